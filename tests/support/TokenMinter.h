#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace velk::test {

// Mints RS256 tokens the way the cloud service does, with an RSA key made when
// the minter is built. The verifier is given publicKeyPem() or
// certificatePem() as the settings would hold it.
class TokenMinter {
public:
    TokenMinter();
    ~TokenMinter();
    TokenMinter(const TokenMinter&) = delete;
    TokenMinter& operator=(const TokenMinter&) = delete;

    // "-----BEGIN PUBLIC KEY-----" block of the key.
    std::string publicKeyPem() const;
    // A self-signed "-----BEGIN CERTIFICATE-----" block carrying the key.
    std::string certificatePem() const;

    // A signed token with the header {"alg":"RS256","typ":"JWT"}.
    std::string mint(const nlohmann::json& claims) const;
    std::string mint(const nlohmann::json& header, const nlohmann::json& claims) const;
    // "<headerPart>.<payloadPart>.<signature>", the parts signed as they
    // stand, so tests can send any text (padding, other alphabets, garbage).
    std::string signParts(std::string_view headerPart, std::string_view payloadPart) const;
    // The RSASSA-PKCS1-v1_5 SHA-256 signature of the input, raw bytes.
    std::string sign(std::string_view input) const;

    // base64url without padding.
    static std::string base64Url(std::string_view bytes);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velk::test
