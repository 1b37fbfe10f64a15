#include "infrastructure/portal/PortalHeaders.h"

#include <string>

#include "common/AgencyEndpoints.h"

namespace velk::core::infra::portal {

namespace {

const std::string kOrigin(AgencyEndpoints::kPortalBaseUrl);
const std::string kReferer = kOrigin + "/home.html";

}  // namespace

const http::HttpHeaders PortalPageHeaders = {
    {"Accept", "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8"},
    {"Accept-Language", "bg-BG,bg;q=0.9,en;q=0.8"},
    {"Upgrade-Insecure-Requests", "1"},
    {"Origin", kOrigin},
    {"Referer", kReferer},
};

const http::HttpHeaders PortalJsonHeaders = {
    {"Accept", "application/json"},
    {"Origin", kOrigin},
    {"Referer", kReferer},
};

}  // namespace velk::core::infra::portal
