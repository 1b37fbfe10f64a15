#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "infrastructure/http/HttpClient.h"
#include "infrastructure/java/JnlpDownloader.h"

namespace velk::test {

// The download the VAT operations hand the bridge, as they make it: a GET
// with the agent's HTTP client whose body counts only for a 2xx status.
inline core::infra::java::JnlpDownloader::Fetcher httpFetcher() {
    auto client = std::make_shared<core::infra::http::HttpClient>(core::infra::http::HttpClientOptions{});
    return [client](const std::string& url) {
        const core::infra::http::HttpResponse response = client->get(url, {});
        if (response.status < 200 || response.status > 299) {
            return std::vector<std::uint8_t>();
        }
        return std::vector<std::uint8_t>(response.body.begin(), response.body.end());
    };
}

}  // namespace velk::test
