#include "infrastructure/portal/DeclarationFile.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace velk::core::infra::portal {

std::optional<std::vector<std::uint8_t>> readDeclarationFile(const std::string& path) {
    std::error_code error;
    if (path.empty() || !std::filesystem::is_regular_file(path, error)) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return std::nullopt;
    }
    return bytes;
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
