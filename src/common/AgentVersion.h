#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velk::core {

struct AgentVersion {
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t patch = 0;

    friend auto operator<=>(const AgentVersion&, const AgentVersion&) = default;
};

AgentVersion currentVersion();
std::string versionString();
std::string toString(const AgentVersion& version);

// Exactly three or four dot-separated decimal numbers of at most 65535 each;
// a fourth number is checked but not kept.
std::optional<AgentVersion> parseVersion(std::string_view text);

}  // namespace velk::core
