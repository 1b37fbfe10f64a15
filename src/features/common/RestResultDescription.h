#pragma once

#include <string>

namespace velk::core::features {

// Description of a result inquiry of a REST declaration: the subject text, the
// REST API's result address and the closing sentence about the parameters.
std::string restResultDescription(const std::string& subject);

}  // namespace velk::core::features
