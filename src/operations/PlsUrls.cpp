#include "operations/PlsUrls.h"

#include <array>

#include "common/AgencyEndpoints.h"
#include "common/TextUtils.h"

namespace velk::core::operations {

namespace {

constexpr std::array<std::string_view, 4> kPageSuffixes = {".publicEntry", ".listDocuments", ".upload_file",
                                                           ".showResult"};


}  // namespace

std::string plsBaseUrl() {
    return std::string(AgencyEndpoints::kPortalBaseUrl) + "/pls/pub/";
}

std::string stripPlsSuffix(std::string_view pageUrl) {
    for (std::string_view suffix : kPageSuffixes) {
        if (pageUrl.size() >= suffix.size() &&
            iequalsAscii(pageUrl.substr(pageUrl.size() - suffix.size()), suffix)) {
            return std::string(pageUrl.substr(0, pageUrl.size() - suffix.size()));
        }
    }
    return std::string(pageUrl);
}

std::string plsModuleOf(const ServiceLink& link, const std::string& fallbackModule) {
    const std::string url = linkUrlProperty(link);
    if (url.empty()) {
        return fallbackModule;
    }
    const std::string_view page = std::string_view(url).substr(0, url.find('?'));
    const std::string module = stripPlsSuffix(page);
    return module.empty() ? fallbackModule : asciiUpper(module);
}

std::string linkUrlProperty(const ServiceLink& link) {
    const auto it = link.props.find("url");
    return it == link.props.end() ? std::string() : it->second;
}


}  // namespace velk::core::operations
