#pragma once

#include <string>
#include <string_view>

#include "infrastructure/signing/Bytes.h"

namespace velk::signing {

// Two upper-case hexadecimal digits per byte, high half first.
std::string hexEncode(const Bytes& bytes);

// Reads pairs of hexadecimal digits (either case); any other character in a
// pair makes the whole result empty; a last unpaired character is ignored.
Bytes hexDecode(std::string_view text);

}  // namespace velk::signing
