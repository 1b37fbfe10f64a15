#include "common/AgentVersion.h"

// Given by the build from the project's version.
#if !defined(VELK_VERSION_MAJOR) || !defined(VELK_VERSION_MINOR) || !defined(VELK_VERSION_PATCH)
#error "VELK_VERSION_MAJOR, VELK_VERSION_MINOR and VELK_VERSION_PATCH must be defined by the build"
#endif

namespace velk::core {

namespace {

constexpr AgentVersion kCurrent{VELK_VERSION_MAJOR, VELK_VERSION_MINOR, VELK_VERSION_PATCH};

constexpr bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads one number of at most 65535 starting at pos; at least one digit.
std::optional<std::uint16_t> readNumber(std::string_view text, std::size_t& pos) {
    if (pos >= text.size() || !isDigit(text[pos])) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    while (pos < text.size() && isDigit(text[pos])) {
        value = value * 10 + static_cast<std::uint32_t>(text[pos] - '0');
        if (value > 65535) {
            return std::nullopt;
        }
        ++pos;
    }
    return static_cast<std::uint16_t>(value);
}

bool readDot(std::string_view text, std::size_t& pos) {
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        return true;
    }
    return false;
}

}  // namespace

AgentVersion currentVersion() {
    return kCurrent;
}

std::string toString(const AgentVersion& v) {
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch);
}

std::string versionString() {
    return toString(kCurrent);
}

std::optional<AgentVersion> parseVersion(std::string_view text) {
    std::size_t pos = 0;
    const auto major = readNumber(text, pos);
    if (!major || !readDot(text, pos)) {
        return std::nullopt;
    }
    const auto minor = readNumber(text, pos);
    if (!minor || !readDot(text, pos)) {
        return std::nullopt;
    }
    const auto patch = readNumber(text, pos);
    if (!patch) {
        return std::nullopt;
    }
    if (pos != text.size()) {
        if (!readDot(text, pos) || !readNumber(text, pos) || pos != text.size()) {
            return std::nullopt;
        }
    }
    return AgentVersion{*major, *minor, *patch};
}

}  // namespace velk::core
