#include "support/TokenMinter.h"

#include "support/RsaKeyPool.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <stdexcept>

#include "common/TextUtils.h"

namespace velk::test {

namespace {

struct PkeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdCtxDeleter {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Deleter {
    void operator()(X509* cert) const { X509_free(cert); }
};

void require(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("TokenMinter: ") + what);
    }
}

std::string bioText(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<std::size_t>(size));
}

std::string selfSignedCertificate(EVP_PKEY* key) {
    std::unique_ptr<X509, X509Deleter> cert(X509_new());
    require(cert != nullptr, "X509_new");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600L * 24 * 365);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Test cloud"),
                               -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    require(X509_set_pubkey(cert.get(), key) == 1, "X509_set_pubkey");
    require(X509_sign(cert.get(), key, EVP_sha256()) > 0, "X509_sign");

    std::unique_ptr<BIO, BioDeleter> bio(BIO_new(BIO_s_mem()));
    require(bio && PEM_write_bio_X509(bio.get(), cert.get()) == 1, "PEM_write_bio_X509");
    return bioText(bio.get());
}

}  // namespace

struct TokenMinter::Impl {
    std::unique_ptr<EVP_PKEY, PkeyDeleter> key;
    std::string publicPem;
    std::string certificatePem;
};

TokenMinter::TokenMinter() : impl_(std::make_unique<Impl>()) {
    const std::shared_ptr<EVP_PKEY> pooled = pooledRsa2048Key();
    require(EVP_PKEY_up_ref(pooled.get()) == 1, "EVP_PKEY_up_ref");
    impl_->key.reset(pooled.get());

    std::unique_ptr<BIO, BioDeleter> bio(BIO_new(BIO_s_mem()));
    require(bio && PEM_write_bio_PUBKEY(bio.get(), impl_->key.get()) == 1, "PEM_write_bio_PUBKEY");
    impl_->publicPem = bioText(bio.get());
    impl_->certificatePem = selfSignedCertificate(impl_->key.get());
}

TokenMinter::~TokenMinter() = default;

std::string TokenMinter::publicKeyPem() const {
    return impl_->publicPem;
}

std::string TokenMinter::certificatePem() const {
    return impl_->certificatePem;
}

std::string TokenMinter::mint(const nlohmann::json& claims) const {
    return mint(nlohmann::json{{"alg", "RS256"}, {"typ", "JWT"}}, claims);
}

std::string TokenMinter::mint(const nlohmann::json& header, const nlohmann::json& claims) const {
    return signParts(base64Url(header.dump()), base64Url(claims.dump()));
}

std::string TokenMinter::signParts(std::string_view headerPart, std::string_view payloadPart) const {
    std::string input;
    input.append(headerPart).append(".").append(payloadPart);
    return input + "." + base64Url(sign(input));
}

std::string TokenMinter::sign(std::string_view input) const {
    std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> ctx(EVP_MD_CTX_new());
    require(ctx && EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, impl_->key.get()) == 1,
            "EVP_DigestSignInit");
    require(EVP_DigestSignUpdate(ctx.get(), input.data(), input.size()) == 1, "EVP_DigestSignUpdate");
    std::size_t size = 0;
    require(EVP_DigestSignFinal(ctx.get(), nullptr, &size) == 1, "EVP_DigestSignFinal");
    std::string signature(size, '\0');
    require(EVP_DigestSignFinal(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &size) == 1,
            "EVP_DigestSignFinal");
    signature.resize(size);
    return signature;
}

std::string TokenMinter::base64Url(std::string_view bytes) {
    std::string text = core::base64Encode(bytes);
    while (!text.empty() && text.back() == '=') {
        text.pop_back();
    }
    for (char& c : text) {
        if (c == '+') {
            c = '-';
        } else if (c == '/') {
            c = '_';
        }
    }
    return text;
}

}  // namespace velk::test
