#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velk::core::infra::portal {

// The bytes of a declaration file as they are; empty when the path names no
// regular file (a folder opens as a stream on Linux) or it cannot be read.
std::optional<std::vector<std::uint8_t>> readDeclarationFile(const std::string& path);

// What the portal takes: a leading UTF-8 byte-order mark dropped (a file of
// one or two of its bytes keeps them) and every line end, CR LF, lone CR or
// lone LF, written as CR LF.
std::vector<std::uint8_t> normalizeCrlf(const std::vector<std::uint8_t>& bytes);

}  // namespace velk::core::infra::portal
