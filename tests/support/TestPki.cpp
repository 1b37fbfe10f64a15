#include "support/TestPki.h"

#include "support/RsaKeyPool.h"

#include <stdexcept>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <openssl/x509v3.h>

namespace velk::test {

namespace {

void require(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("TestPki: ") + what);
    }
}

std::shared_ptr<X509> shareCertificate(X509* cert) {
    return std::shared_ptr<X509>(cert, X509_free);
}

void addName(X509_NAME* name, const char* field, const std::string& value) {
    if (!value.empty()) {
        require(X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                           reinterpret_cast<const unsigned char*>(value.data()),
                                           static_cast<int>(value.size()), -1, 0) == 1,
                "name entry");
    }
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    require(ext != nullptr, "extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

void setSerial(X509* cert, const std::vector<std::uint8_t>& serial) {
    std::vector<std::uint8_t> bytes = serial;
    if (bytes.empty()) {
        bytes.resize(16);
        require(RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) == 1, "random serial");
        bytes[0] &= 0x7F;
        bytes[0] |= 0x10;
    }
    platform::BignumPtr bn(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr));
    require(bn != nullptr && BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert)) != nullptr, "serial");
}

std::shared_ptr<X509> makeCertificate(const CertificateSpec& certSpec, EVP_PKEY* subjectKey, X509* issuerCert,
                                      EVP_PKEY* issuerKey, bool isCa) {
    X509* raw = X509_new();
    require(raw != nullptr, "X509_new");
    std::shared_ptr<X509> cert = shareCertificate(raw);
    require(X509_set_version(raw, 2) == 1, "version");
    setSerial(raw, certSpec.serial);
    X509_gmtime_adj(X509_getm_notBefore(raw), certSpec.notBeforeSecondsFromNow);
    X509_gmtime_adj(X509_getm_notAfter(raw), certSpec.notAfterSecondsFromNow);
    X509_NAME* name = X509_get_subject_name(raw);
    addName(name, "C", certSpec.country);
    addName(name, "O", certSpec.organization);
    addName(name, "CN", certSpec.commonName);
    require(X509_set_issuer_name(raw, issuerCert != nullptr ? X509_get_subject_name(issuerCert) : name) == 1,
            "issuer");
    require(X509_set_pubkey(raw, subjectKey) == 1, "public key");
    X509* issuer = issuerCert != nullptr ? issuerCert : raw;
    addExtension(raw, issuer, NID_basic_constraints, isCa ? "critical,CA:TRUE" : "critical,CA:FALSE");
    addExtension(raw, issuer, NID_key_usage,
                 isCa ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature,nonRepudiation");
    addExtension(raw, issuer, NID_subject_key_identifier, "hash");
    if (!certSpec.dnsNames.empty()) {
        std::string names;
        for (const std::string& dns : certSpec.dnsNames) {
            names += (names.empty() ? "DNS:" : ",DNS:") + dns;
        }
        addExtension(raw, issuer, NID_subject_alt_name, names.c_str());
    }
    require(X509_sign(raw, issuerKey, EVP_sha256()) > 0, "sign");
    return cert;
}

Der toDer(X509* cert) {
    const int len = i2d_X509(cert, nullptr);
    require(len > 0, "i2d_X509");
    Der out(static_cast<std::size_t>(len));
    unsigned char* p = out.data();
    i2d_X509(cert, &p);
    return out;
}

Der pkcs12Der(PKCS12* p12) {
    require(p12 != nullptr, "PKCS12_create");
    const int len = i2d_PKCS12(p12, nullptr);
    Der out(static_cast<std::size_t>(len));
    unsigned char* p = out.data();
    i2d_PKCS12(p12, &p);
    PKCS12_free(p12);
    return out;
}

}  // namespace

Der TestIdentity::der() const {
    return toDer(certificate.get());
}

std::string TestIdentity::thumbprint() const {
    const Der bytes = der();
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(bytes.data(), bytes.size(), digest);
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char b : digest) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
    }
    return out;
}

std::string TestIdentity::subjectCommonName() const {
    X509_NAME* name = X509_get_subject_name(certificate.get());
    const int index = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
    if (index < 0) {
        return {};
    }
    const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
    unsigned char* utf8 = nullptr;
    const int len = ASN1_STRING_to_UTF8(&utf8, value);
    std::string out =
        len > 0 ? std::string(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(len)) : "";
    OPENSSL_free(utf8);
    return out;
}

std::shared_ptr<EVP_PKEY> TestPki::makeKey(KeyKind kind, int rsaBits) {
    if (kind == KeyKind::Rsa && rsaBits == 2048) {
        return pooledRsa2048Key();
    }
    EVP_PKEY* key =
        kind == KeyKind::Rsa ? EVP_RSA_gen(static_cast<unsigned int>(rsaBits)) : EVP_EC_gen("prime256v1");
    require(key != nullptr, "key generation");
    return std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free);
}

TestPki::TestPki() {
    CertificateSpec certSpec;
    certSpec.commonName = "Тестов удостоверяващ център";
    certSpec.organization = "Тестова инфраструктура АД";
    certSpec.notAfterSecondsFromNow = 10L * 365 * 24 * 3600;
    ca_.key = makeKey(KeyKind::Rsa);
    ca_.certificate = makeCertificate(certSpec, ca_.key.get(), nullptr, ca_.key.get(), true);
}

TestIdentity TestPki::issue(const CertificateSpec& certSpec) const {
    TestIdentity identity;
    identity.key = certSpec.key ? certSpec.key : makeKey(certSpec.keyKind, certSpec.rsaBits);
    identity.certificate =
        makeCertificate(certSpec, identity.key.get(), ca_.certificate.get(), ca_.key.get(), false);
    return identity;
}

std::unique_ptr<X509_STORE, platform::OpenSslDeleter<X509_STORE_free>> TestPki::trustStore() const {
    std::unique_ptr<X509_STORE, platform::OpenSslDeleter<X509_STORE_free>> store(X509_STORE_new());
    require(store && X509_STORE_add_cert(store.get(), ca_.certificate.get()) == 1, "trust store");
    return store;
}

Der TestPki::pkcs12(const TestIdentity& identity, const std::string& password, bool certificateInClear) {
    // nid_cert -1: the certificate bag is not encrypted; 0: the default cipher.
    return pkcs12Der(PKCS12_create(password.c_str(), "velk test", identity.key.get(),
                                   identity.certificate.get(), nullptr, 0, certificateInClear ? -1 : 0, 0, 0,
                                   0));
}

Der TestPki::pkcs12WithoutKey(const TestIdentity& identity) {
    return pkcs12Der(
        PKCS12_create("", "velk test", nullptr, identity.certificate.get(), nullptr, 0, 0, 0, 0, 0));
}

}  // namespace velk::test
