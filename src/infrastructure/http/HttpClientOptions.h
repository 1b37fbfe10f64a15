#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace velk::core::infra::http {

struct HttpClientOptions {
    // The agency's portal only serves browsers; this is the text it accepts.
    std::string userAgent = "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36";
    bool followRedirects = true;
    std::int32_t maxRedirects = 10;
    // Limit for a whole request, connection to last byte.
    std::chrono::milliseconds timeout = std::chrono::seconds(60);
    bool verifyTls = true;
    // Netscape cookie file loaded at construction and written at destruction;
    // empty keeps the jar in memory only.
    std::string cookieFile;
    // TLS client certificate: a certificate-store id, a PKCS#11 slot id
    // ("3:0A1B") or a PKCS#11 URI; empty presents none.
    std::string clientCertId;
    // Empty means the VELK_PKCS11_MODULE environment variable.
    std::string pkcs11ModulePath;
    std::string pkcs11Pin;
    // The largest body accepted; a longer one ends the transfer as failed.
    // 0: no limit.
    std::int64_t maxBodyBytes = 0;
    // The URL schemes reached, for the first URL and for every redirect, as
    // libcurl lists them ("http,https"). libcurl alone would also speak
    // file, gopher, ftp and more, wherever a URL or a Location points.
    std::string protocols = "http,https";
};

}  // namespace velk::core::infra::http
