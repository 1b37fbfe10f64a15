#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace velk::core {

using json = nlohmann::json;

// Arrays and objects nested deeper than this are refused before parsing: the
// JSON library copies, compares and writes values recursively, so a deep value
// from outside would otherwise run the stack out long after it was read.
inline constexpr std::size_t kMaxJsonDepth = 512;

// Compact text with raw UTF-8. Throws nlohmann::json::type_error when a string
// is not valid UTF-8, so broken text never leaves the process silently.
std::string dumpCompact(const json& value);

// Whether text nests arrays and objects deeper than maxDepth. Looks only at
// brackets outside strings; says nothing of whether the text is valid JSON.
bool exceedsJsonDepth(std::string_view text, std::size_t maxDepth = kMaxJsonDepth);

// The one way to read JSON that comes from outside (request bodies, files,
// the agency's replies, child processes). Throws nlohmann::json::parse_error
// for bad or too deeply nested text and nlohmann::json::out_of_range for a
// number that does not fit; callers catch nlohmann::json::exception.
json parseExternalJson(std::string_view text);

// As parseExternalJson, but answers nothing instead of throwing; error, when
// given, receives the parser's message.
std::optional<json> tryParseExternalJson(std::string_view text, std::string* error = nullptr);

}  // namespace velk::core
