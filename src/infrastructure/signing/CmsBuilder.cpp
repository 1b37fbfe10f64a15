// The RSA_METHOD interface is deprecated in OpenSSL 3 but remains the way to
// route a legacy RSA key's private operation to our own code.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "infrastructure/signing/CmsBuilder.h"

#include <cstring>
#include <exception>

#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/ess.h>
#include <openssl/objects.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "common/Logger.h"
#include "platform/OpenSslPtr.h"

namespace velk::signing {

namespace {

using core::LogLevel;
using core::logLine;
using platform::BioPtr;
using platform::CmsPtr;
using platform::EvpPkeyPtr;
using platform::X509Ptr;

// DETACHED | BINARY | NOSMIMECAP | PARTIAL: content not embedded, taken byte
// for byte, no S/MIME capabilities, signature made in CMS_final.
constexpr unsigned int kCmsFlags = 0x42C0;
static_assert(kCmsFlags == (CMS_DETACHED | CMS_BINARY | CMS_NOSMIMECAP | CMS_PARTIAL));

constexpr const char* kSigningCertificateV2Oid = "1.2.840.113549.1.9.16.2.47";

// Lives exactly as long as one build; holds the callback and whatever it
// raised, since an exception must not cross OpenSSL's C frames.
struct DelegateHolder {
    RawSign rawSign;
    std::exception_ptr error;
};

int delegateIndex() {
    static const int index = CRYPTO_get_ex_new_index(
        CRYPTO_EX_INDEX_RSA, 0, const_cast<char*>("velk-delegate"), nullptr, nullptr, nullptr);
    return index;
}

DelegateHolder* holderOf(const RSA* rsa) {
    return static_cast<DelegateHolder*>(RSA_get_ex_data(rsa, delegateIndex()));
}

int delegatePrivEncrypt(int length, const unsigned char* input, unsigned char* output, RSA* rsa,
                        int padding) {
    DelegateHolder* holder = holderOf(rsa);
    if (holder == nullptr || !holder->rawSign || padding != RSA_PKCS1_PADDING || length < 0) {
        return -1;
    }
    try {
        const Bytes digestInfo(input, input + length);
        const Bytes signature = holder->rawSign(digestInfo);
        // The output buffer holds the modulus length; a longer answer would
        // overrun it and is no signature of this key anyway.
        if (signature.empty() || signature.size() > static_cast<std::size_t>(RSA_size(rsa))) {
            return -1;
        }
        std::memcpy(output, signature.data(), signature.size());
        return static_cast<int>(signature.size());
    } catch (...) {
        holder->error = std::current_exception();
        return -1;
    }
}

// Made once per process, never freed; function-local statics make the first
// creation race-free.
const RSA_METHOD* delegateMethod() {
    static RSA_METHOD* const method = [] {
        RSA_METHOD* m = RSA_meth_new("velk-delegate", RSA_METHOD_FLAG_NO_CHECK);
        if (m == nullptr) {
            return m;
        }
        const RSA_METHOD* def = RSA_get_default_method();
        RSA_meth_set_pub_enc(m, RSA_meth_get_pub_enc(def));
        RSA_meth_set_pub_dec(m, RSA_meth_get_pub_dec(def));
        RSA_meth_set_priv_dec(m, RSA_meth_get_priv_dec(def));
        RSA_meth_set_mod_exp(m, RSA_meth_get_mod_exp(def));
        RSA_meth_set_bn_mod_exp(m, RSA_meth_get_bn_mod_exp(def));
        RSA_meth_set_priv_enc(m, delegatePrivEncrypt);
        return m;
    }();
    return method;
}

void freeDelegateHolder(RSA* rsa) {
    if (rsa == nullptr) {
        return;
    }
    DelegateHolder* holder = holderOf(rsa);
    if (holder == nullptr) {
        return;
    }
    delete holder;
    RSA_set_ex_data(rsa, delegateIndex(), nullptr);
}

// An RSA object with the certificate's public modulus and exponent whose
// private encryption calls rawSign. The method is set before the key goes
// into an EVP_PKEY: only then does OpenSSL 3 keep it on the legacy path that
// calls the method.
RSA* makeDelegateRsa(EVP_PKEY* publicKey, RawSign rawSign) {
    const RSA_METHOD* method = delegateMethod();
    if (method == nullptr) {
        return nullptr;
    }
    RSA* rsa = RSA_new();
    if (rsa == nullptr) {
        return nullptr;
    }
    RSA* certRsa = EVP_PKEY_get1_RSA(publicKey);
    if (certRsa == nullptr) {
        RSA_free(rsa);
        return nullptr;
    }
    const BIGNUM* n = nullptr;
    const BIGNUM* e = nullptr;
    RSA_get0_key(certRsa, &n, &e, nullptr);
    BIGNUM* nCopy = BN_dup(n);
    BIGNUM* eCopy = BN_dup(e);
    RSA_free(certRsa);
    if (nCopy == nullptr || eCopy == nullptr || RSA_set0_key(rsa, nCopy, eCopy, nullptr) != 1) {
        BN_free(nCopy);
        BN_free(eCopy);
        RSA_free(rsa);
        return nullptr;
    }
    auto* holder = new DelegateHolder{std::move(rawSign), nullptr};
    if (RSA_set_ex_data(rsa, delegateIndex(), holder) != 1) {
        delete holder;
        RSA_free(rsa);
        return nullptr;
    }
    if (RSA_set_method(rsa, method) != 1) {
        freeDelegateHolder(rsa);
        RSA_free(rsa);
        return nullptr;
    }
    return rsa;
}

bool addSigningCertificateV2(CMS_SignerInfo* signerInfo, X509* certificate) {
    using EssPtr = std::unique_ptr<ESS_SIGNING_CERT_V2, platform::OpenSslDeleter<ESS_SIGNING_CERT_V2_free>>;
    using ObjPtr = std::unique_ptr<ASN1_OBJECT, platform::OpenSslDeleter<ASN1_OBJECT_free>>;
    struct DerDeleter {
        void operator()(unsigned char* p) const { OPENSSL_free(p); }
    };

    EssPtr ess(OSSL_ESS_signing_cert_v2_new_init(EVP_sha256(), certificate, nullptr, 1));
    if (!ess) {
        logLine(LogLevel::Error, "addSigningCertificateV2: OSSL_ESS_signing_cert_v2_new_init failed");
        return false;
    }
    unsigned char* raw = nullptr;
    const int n = i2d_ESS_SIGNING_CERT_V2(ess.get(), &raw);
    std::unique_ptr<unsigned char, DerDeleter> der(raw);
    if (n <= 2 || !der || der.get()[0] != 0x30) {
        logLine(LogLevel::Error,
                "addSigningCertificateV2: i2d_ESS_SIGNING_CERT_V2 produced unexpected output");
        return false;
    }
    int header = 2;
    if (der.get()[1] & 0x80) {
        header += der.get()[1] & 0x7F;
    }
    if (header >= n) {
        logLine(LogLevel::Error, "addSigningCertificateV2: ESS DER length header is malformed");
        return false;
    }
    ObjPtr type(OBJ_txt2obj(kSigningCertificateV2Oid, 1));
    if (!type) {
        return false;
    }
    // An attribute value of type SEQUENCE is written out as given, header
    // included; so the whole DER goes in, and the value is exactly the
    // SigningCertificateV2 structure.
    return CMS_signed_add1_attr_by_OBJ(signerInfo, type.get(), V_ASN1_SEQUENCE, der.get(), n) == 1;
}

// Frees the delegate holder before the key (and with it the RSA object) goes.
class DelegateHolderGuard {
public:
    explicit DelegateHolderGuard(RSA* rsa) : rsa_(rsa) {}
    ~DelegateHolderGuard() { freeDelegateHolder(rsa_); }
    DelegateHolderGuard(const DelegateHolderGuard&) = delete;
    DelegateHolderGuard& operator=(const DelegateHolderGuard&) = delete;
    // What rawSign raised, if anything.
    std::exception_ptr pendingError() const {
        const DelegateHolder* holder = holderOf(rsa_);
        return holder != nullptr ? holder->error : nullptr;
    }

private:
    RSA* rsa_;
};

struct BuildOutcome {
    Bytes der;
    std::exception_ptr error;
};

BuildOutcome buildDetached(const Bytes& data, const Bytes& certDer, RawSign rawSign, bool addEss) {
    const unsigned char* p = certDer.data();
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(certDer.size())));
    if (!cert) {
        logLine(LogLevel::Error, "CmsBuilder: failed to parse cert DER");
        return {};
    }
    RSA* rsa = nullptr;
    {
        EvpPkeyPtr publicKey(X509_get_pubkey(cert.get()));
        if (!publicKey) {
            return {};
        }
        rsa = makeDelegateRsa(publicKey.get(), std::move(rawSign));
    }
    if (rsa == nullptr) {
        return {};
    }
    EvpPkeyPtr key(EVP_PKEY_new());
    if (!key || EVP_PKEY_assign(key.get(), EVP_PKEY_RSA, rsa) != 1) {
        freeDelegateHolder(rsa);
        RSA_free(rsa);
        return {};
    }
    const DelegateHolderGuard holderGuard(rsa);  // declared after key: released first

    static const unsigned char kNoData = 0;
    BioPtr in(BIO_new_mem_buf(data.empty() ? &kNoData : data.data(), static_cast<int>(data.size())));
    if (!in) {
        return {};
    }
    CmsPtr cms(CMS_sign(cert.get(), key.get(), nullptr, in.get(), kCmsFlags));
    if (!cms) {
        logLine(LogLevel::Error, "CmsBuilder: CMS_sign failed");
        return {};
    }
    STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms.get());
    if (infos != nullptr && sk_CMS_SignerInfo_num(infos) >= 1) {
        CMS_SignerInfo* si = sk_CMS_SignerInfo_value(infos, 0);
        X509_ALGOR* digestAlg = nullptr;
        CMS_SignerInfo_get0_algs(si, nullptr, nullptr, &digestAlg, nullptr);
        if (digestAlg != nullptr) {
            X509_ALGOR_set0(digestAlg, OBJ_nid2obj(NID_sha256), V_ASN1_NULL, nullptr);
        }
        if (addEss && !addSigningCertificateV2(si, cert.get())) {
            logLine(LogLevel::Warn, "CmsBuilder: failed to add SigningCertificateV2");
        }
    }
    if (CMS_final(cms.get(), in.get(), nullptr, kCmsFlags) != 1) {
        if (std::exception_ptr error = holderGuard.pendingError()) {
            return {{}, error};
        }
        logLine(LogLevel::Error, "CmsBuilder: CMS_final failed");
        return {};
    }
    BioPtr out(BIO_new(BIO_s_mem()));
    if (!out || i2d_CMS_bio(out.get(), cms.get()) != 1) {
        return {};
    }
    char* bytes = nullptr;
    const long len = BIO_get_mem_data(out.get(), &bytes);
    if (len <= 0) {
        return {};
    }
    return {Bytes(bytes, bytes + len), nullptr};
}

}  // namespace

Bytes CmsBuilder::build(const Bytes& data, const Bytes& certDer, RawSign rawSign,
                        bool addSigningCertificateV2) {
    if (!rawSign) {
        logLine(LogLevel::Error, "CmsBuilder: rawSign callback is required");
        return {};
    }
    BuildOutcome outcome = buildDetached(data, certDer, std::move(rawSign), addSigningCertificateV2);
    // Failed library calls leave reasons on this thread's error queue; they
    // must not be mistaken for the reasons of a later, unrelated failure.
    ERR_clear_error();
    if (outcome.error) {
        std::rethrow_exception(outcome.error);
    }
    return std::move(outcome.der);
}

}  // namespace velk::signing
