#pragma once

#include <string>

#include "operations/ResultSchema.h"

namespace velk::core::operations {

// The agency's receipt of a filing: the six fields every submission returns,
// under the operation's own schema name.
ResultSchema submissionResultSchema(std::string name);

}  // namespace velk::core::operations
