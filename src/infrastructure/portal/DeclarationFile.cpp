#include "infrastructure/portal/DeclarationFile.h"

namespace velk::core::infra::portal {

std::optional<std::vector<std::uint8_t>> readDeclarationFile(const std::string& path, bool* tooLarge) {
    if (tooLarge != nullptr) {
        *tooLarge = false;
    }
    if (path.empty()) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    switch (platform::readWholeRegularFile(path, bytes)) {
        case platform::WholeFileStatus::Read:
            return bytes;
        case platform::WholeFileStatus::TooLarge:
            if (tooLarge != nullptr) {
                *tooLarge = true;
            }
            break;
        case platform::WholeFileStatus::Unreadable:
            break;
    }
    return std::nullopt;
}

std::vector<std::uint8_t> normalizeCrlf(const std::vector<std::uint8_t>& bytes) {
    constexpr std::uint8_t kCr = '\r';
    constexpr std::uint8_t kLf = '\n';
    std::size_t start = 0;
    if (bytes.size() > 2 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        start = 3;
    }
    std::vector<std::uint8_t> out;
    out.reserve(bytes.size() - start + 16);
    for (std::size_t i = start; i < bytes.size(); ++i) {
        const std::uint8_t b = bytes[i];
        if (b == kCr) {
            out.push_back(kCr);
            out.push_back(kLf);
            if (i + 1 < bytes.size() && bytes[i + 1] == kLf) {
                ++i;
            }
        } else if (b == kLf) {
            out.push_back(kCr);
            out.push_back(kLf);
        } else {
            out.push_back(b);
        }
    }
    return out;
}

}  // namespace velk::core::infra::portal
