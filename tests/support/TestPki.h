#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "platform/OpenSslPtr.h"

namespace velk::test {

using Der = std::vector<std::uint8_t>;

// A certificate and its private key.
struct TestIdentity {
    std::shared_ptr<X509> certificate;
    std::shared_ptr<EVP_PKEY> key;

    Der der() const;
    // SHA-1 of the DER in upper-case hexadecimal: the store signer's id.
    std::string thumbprint() const;
    std::string subjectCommonName() const;
};

enum class KeyKind { Rsa, Ec };

struct CertificateSpec {
    std::string commonName = "Иван Петров Иванов";
    std::string organization = "Тест ЕООД";
    std::string country = "BG";
    // Big-endian magnitude; empty: a fresh random positive serial.
    std::vector<std::uint8_t> serial;
    KeyKind keyKind = KeyKind::Rsa;
    int rsaBits = 2048;
    // Reused instead of a fresh key (fast when many certificates are needed).
    std::shared_ptr<EVP_PKEY> key;
    long notBeforeSecondsFromNow = -3600;
    long notAfterSecondsFromNow = 365L * 24 * 3600;
    // subjectAltName DNS entries; none when empty.
    std::vector<std::string> dnsNames;
};

// A test certification authority with a Cyrillic name that issues user
// certificates, written with the OpenSSL API.
class TestPki {
public:
    TestPki();

    const TestIdentity& ca() const { return ca_; }
    TestIdentity issue(const CertificateSpec& certSpec = {}) const;

    // A store that trusts the CA, for CMS_verify and TLS checks.
    std::unique_ptr<X509_STORE, platform::OpenSslDeleter<X509_STORE_free>> trustStore() const;

    static std::shared_ptr<EVP_PKEY> makeKey(KeyKind kind, int rsaBits = 2048);

    // PKCS#12 with the key and the certificate under one local key id. An
    // empty password makes a file that opens without one. certificateInClear
    // leaves the certificate bag unencrypted (the key stays shrouded).
    static Der pkcs12(const TestIdentity& identity, const std::string& password, bool certificateInClear);
    // PKCS#12 holding only the certificate.
    static Der pkcs12WithoutKey(const TestIdentity& identity);

private:
    TestIdentity ca_;
};

}  // namespace velk::test
