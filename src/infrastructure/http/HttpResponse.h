#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

namespace velk::core::infra::http {

// Request and response headers, and form fields: names exactly as given or
// received, one value per name.
using HttpHeaders = std::unordered_map<std::string, std::string>;
using FormFields = std::unordered_map<std::string, std::string>;

struct HttpResponse {
    // Status of the last response after redirects; 0 when the transfer failed.
    std::int32_t status = 0;
    // Bytes as received; with redirects followed, the final response's body.
    std::string body;
    // The header blocks of every response of a redirect chain, merged; the
    // last value received for a name wins.
    HttpHeaders headers;
    // Final URL after redirects; filled by get (and getFresh) on success only.
    std::string effectiveUrl;
    // Empty on success, else libcurl's text for the failure.
    std::string error;
};

}  // namespace velk::core::infra::http
