#pragma once

#include <string_view>

namespace velk::core {

// The agency's production hosts. Tests never change these: they redirect the
// connections to loopback fakes in the transport.
struct AgencyEndpoints {
    static constexpr std::string_view kPortalHost = "portal.nra.bg";
    // Every portal URL is this base followed by a path.
    static constexpr std::string_view kPortalBaseUrl = "https://portal.nra.bg";
};

}  // namespace velk::core
