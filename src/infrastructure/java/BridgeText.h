#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velk::core::infra::java {

// The Java class path: the entries joined with ':' (the platform's
// separator), duplicates kept.
std::string buildClasspath(const std::vector<std::string>& entries);

// Whether a line of the validator is one of its progress or debug lines
// rather than an error: it begins with one of a few fixed tokens.
bool isNoiseLine(std::string_view line);

// Base64 of the line protocol (standard alphabet, padded, no line breaks).
std::string bridgeBase64Encode(const std::vector<std::uint8_t>& bytes);
// Stops at the first character outside the alphabet (padding included);
// left-over bits are dropped.
std::vector<std::uint8_t> bridgeBase64Decode(std::string_view text);

}  // namespace velk::core::infra::java
