#pragma once

#include <string_view>

namespace velk::core {

// The agency's production hosts. Tests never change these: they redirect the
// connections to loopback fakes in the transport.
struct AgencyEndpoints {
    static constexpr std::string_view kPortalHost = "portal.nra.bg";
    // Every portal URL is this base followed by a path.
    static constexpr std::string_view kPortalBaseUrl = "https://portal.nra.bg";

    // Where the certificate (QES) login takes place.
    static constexpr std::string_view kLoginHost = "login.nra.bg";
    static constexpr std::string_view kLoginBaseUrl = "https://login.nra.bg";

    // The REST API for declarations and its two endpoints.
    static constexpr std::string_view kRestApiHost = "api.nra.bg";
    static constexpr std::string_view kRestApiBaseUrl = "https://api.nra.bg";
    static constexpr std::string_view kRestSubmitUrl = "https://api.nra.bg/declaration/api-declarations/";
    static constexpr std::string_view kRestResultUrl =
        "https://api.nra.bg/declaration/api-declarations/result";
    // The agency's own test environment of the REST API, which a developer's
    // machine switches to (dev.json or VELK_USE_TEST_ENDPOINTS).
    static constexpr std::string_view kRestApiTestHost = "api-test.nra.bg";

    // The maker's cloud service (versions, submission tokens) and web domain.
    static constexpr std::string_view kMakerWebDomain = "vezorodar.bg";
    static constexpr std::string_view kCloudBaseUrl = "https://cloud.vezorodar.bg";
};

}  // namespace velk::core
