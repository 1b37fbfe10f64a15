#pragma once

#include <string>

namespace velk::signing {

// One certificate a signer lists. Texts are UTF-8; validity texts read
// "2025-03-01T08:05:00Z" (UTC), or are empty when the time does not convert.
struct CertificateInfo {
    std::string id;  // handed back to the signer unchanged
    std::string subject;
    std::string issuer;
    std::string serial;  // upper-case hexadecimal, most significant byte first
    std::string notBefore;
    std::string notAfter;
    bool hardware = false;  // the key lives on a smart card or token
    std::string provider;   // key storage provider, or token label
};

}  // namespace velk::signing
