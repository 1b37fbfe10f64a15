#pragma once

#include <cstdint>
#include <vector>

namespace velk::signing {

// Raw bytes; an empty sequence is the failure value of every operation that
// returns bytes.
using Bytes = std::vector<std::uint8_t>;

}  // namespace velk::signing
