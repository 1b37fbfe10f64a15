#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace velk::core {

using json = nlohmann::json;

// Compact text with raw UTF-8. Throws nlohmann::json::type_error when a string
// is not valid UTF-8, so broken text never leaves the process silently.
std::string dumpCompact(const json& value);

}  // namespace velk::core
