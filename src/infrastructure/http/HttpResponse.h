#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

namespace velk::core::infra::http {

// Request and response headers, and form fields: names exactly as given or
// received, one value per name.
using HttpHeaders = std::unordered_map<std::string, std::string>;
using FormFields = std::unordered_map<std::string, std::string>;

// Why the key of the client certificate could not be used for a transfer,
// when its PIN was the reason; libcurl only knows that the local certificate
// had a problem.
enum class KeyPinRefusal { None, WrongPin, Cancelled };

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
    // With an error: the client key's PIN was refused, or its prompt cancelled.
    KeyPinRefusal keyPinRefusal = KeyPinRefusal::None;
};

}  // namespace velk::core::infra::http
