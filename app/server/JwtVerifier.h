#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/AgentVersion.h"
#include "common/JsonUtils.h"

namespace velk::server {

// The outcome of reading a submission token. `claims` stays null until the
// payload has parsed; once parsed it is kept even when a later step fails.
struct JwtVerifyResult {
    bool ok = false;
    std::string error;
    core::json claims;
};

struct EvpPkeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using PublicKeyHandle = std::unique_ptr<EVP_PKEY, EvpPkeyDeleter>;

// RS256 submission tokens issued by the cloud service. No state: any number of
// threads may call these at once.
class JwtVerifier {
public:
    // Checks the header, the signature against the PEM public key (or the key
    // of a PEM certificate) and the JSON types of the claims the local API
    // reads. The claims' values (issuer, expiry, operation, ...) are the
    // caller's to judge.
    static JwtVerifyResult verify(std::string_view token, std::string_view publicKeyPem);

    // Parses the payload only; neither the header nor the signature is looked
    // at. Only for reading the test flag when no verification is required.
    static JwtVerifyResult decodeUnverified(std::string_view token);
};

// base64url with optional padding; the standard alphabet ('+', '/') is read
// too. False for characters outside the alphabet, misplaced or surplus '=',
// and lengths no encoding can have. An empty text is no bytes.
bool base64UrlDecode(std::string_view text, std::vector<std::uint8_t>& out);

// A "PUBLIC KEY" block, else the key of a "CERTIFICATE" block; empty when
// neither can be read.
PublicKeyHandle loadPublicKeyFromPem(std::string_view pem);

// For the token's lowest allowed agent version: major, then minor, then patch.
bool isVersionBelow(const core::AgentVersion& a, const core::AgentVersion& b);

}  // namespace velk::server
