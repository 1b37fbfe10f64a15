#include "infrastructure/java/BridgeText.h"

#include <array>

#include "common/TextUtils.h"

namespace velk::core::infra::java {

namespace {

constexpr std::array<std::string_view, 6> kNoiseTokens = {"bcEncrypt",  "EncryptInit", "loadEncCert",
                                                          "parsefiles", "maxProgress", "stat:"};

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

}  // namespace

std::string buildClasspath(const std::vector<std::string>& entries) {
    std::string out;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0) {
            out += ':';
        }
        out += entries[i];
    }
    return out;
}

bool isNoiseLine(std::string_view line) {
    for (const std::string_view token : kNoiseTokens) {
        if (line.substr(0, token.size()) == token) {
            return true;
        }
    }
    return false;
}

std::string bridgeBase64Encode(const std::vector<std::uint8_t>& bytes) {
    return base64Encode(bytes);
}

std::vector<std::uint8_t> bridgeBase64Decode(std::string_view text) {
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3 + 3);
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        const int value = base64Value(c);
        if (value < 0) {
            break;
        }
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<std::uint8_t>((bits >> count) & 0xFF));
        }
    }
    return out;
}

}  // namespace velk::core::infra::java
