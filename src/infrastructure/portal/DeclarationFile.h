#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/RegularFile.h"

namespace velk::core::infra::portal {

// The bytes of a declaration file as they are; nothing when the path names no
// regular file (a folder, a FIFO, a device: none is opened so as to wait), it
// cannot be read, or it is larger than platform::kMaxWholeFileBytes, which
// tooLarge then tells.
std::optional<std::vector<std::uint8_t>> readDeclarationFile(const std::string& path,
                                                             bool* tooLarge = nullptr);

// What the portal takes: a leading UTF-8 byte-order mark dropped (a file of
// one or two of its bytes keeps them) and every line end, CR LF, lone CR or
// lone LF, written as CR LF.
std::vector<std::uint8_t> normalizeCrlf(const std::vector<std::uint8_t>& bytes);

}  // namespace velk::core::infra::portal
