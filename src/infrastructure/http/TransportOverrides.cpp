#include "infrastructure/http/TransportOverrides.h"

#include <cstdlib>

#include "common/TextUtils.h"

namespace velk::core::infra::http {

namespace {

std::vector<std::string> splitEntries(std::string_view text) {
    std::vector<std::string> out;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string entry = trim(text.substr(0, comma));
        if (!entry.empty()) {
            out.push_back(entry);
        }
        if (comma == std::string_view::npos) {
            break;
        }
        text.remove_prefix(comma + 1);
    }
    return out;
}

}  // namespace

TransportOverrides TransportOverrides::fromEnvironment() {
    TransportOverrides overrides;
    if (const char* connectTo = std::getenv("VELK_TEST_CONNECT_TO")) {
        overrides.connectTo_ = splitEntries(connectTo);
        for (const std::string& entry : overrides.connectTo_) {
            appendLine(overrides.connectToList_, entry.c_str());
        }
    }
    if (const char* caFile = std::getenv("VELK_TEST_CA_FILE")) {
        overrides.caFile_ = caFile;
    }
    return overrides;
}

void TransportOverrides::apply(CURL* handle) const {
    if (connectToList_) {
        curl_easy_setopt(handle, CURLOPT_CONNECT_TO, connectToList_.get());
    }
    if (!caFile_.empty()) {
        curl_easy_setopt(handle, CURLOPT_CAINFO, caFile_.c_str());
    }
}

}  // namespace velk::core::infra::http
