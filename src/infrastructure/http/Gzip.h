#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velk::core::infra::http {

// One gzip member (level 9) of the bytes, with the header's time, extra
// flags and operating-system bytes zeroed so equal input gives equal output.
// Empty on failure.
std::vector<std::uint8_t> gzipCompress(const void* data, std::size_t size);

}  // namespace velk::core::infra::http
