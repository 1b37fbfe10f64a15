#include "platform/StoreKey.h"

#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/rsa.h>

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "platform/LegacyPkcs12Algorithms.h"
#include "platform/ProviderPinCache.h"
#include "platform/SecureWipe.h"

namespace velk::platform {

namespace {

constexpr std::uint32_t kNteFail = 0x80090020;

Pkcs12Ptr parsePkcs12(const StoreCertificate& certificate) {
    // Older exports encrypt their certificates with RC2, which the key's
    // reading decrypts too.
    loadLegacyPkcs12Algorithms();
    const unsigned char* p = certificate.pkcs12.data();
    return Pkcs12Ptr(d2i_PKCS12(nullptr, &p, static_cast<long>(certificate.pkcs12.size())));
}

EvpPkeyPtr readKey(PKCS12* p12, const char* password) {
    EVP_PKEY* key = nullptr;
    const int ok = PKCS12_parse(p12, password, &key, nullptr, nullptr);
    ERR_clear_error();
    EvpPkeyPtr owned(key);
    return ok == 1 ? std::move(owned) : EvpPkeyPtr();
}

// Whether a PIN opens the file: its integrity MAC decides, and for a file
// without one the key's decryption.
bool pinOpens(PKCS12* p12, const std::string& pin) {
    if (!PKCS12_mac_present(p12)) {
        return readKey(p12, pin.c_str()) != nullptr;
    }
    const bool ok = PKCS12_verify_mac(p12, pin.c_str(), static_cast<int>(pin.size())) == 1 ||
                    (pin.empty() && PKCS12_verify_mac(p12, nullptr, 0) == 1);
    ERR_clear_error();
    return ok;
}

std::string hexUpper(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const std::uint8_t b : bytes) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
    }
    return out;
}

}  // namespace

std::optional<StoreKey> StoreKey::acquire(const StoreCertificate& certificate, std::uint32_t& status) {
    if (!certificate.keyProvider) {
        status = kNteBadKeyset;
        return std::nullopt;
    }
    status = kStatusOk;
    return StoreKey(certificate, *certificate.keyProvider);
}

StoreKey::StoreKey(const StoreCertificate& certificate, KeyProviderInfo provider)
    : certificate_(certificate), keyApi_(provider.keyApi), pinProtected_(provider.pinProtected) {}

StoreKey::StoreKey(StoreKey&& other) noexcept
    : certificate_(std::move(other.certificate_)),
      keyApi_(other.keyApi_),
      pinProtected_(other.pinProtected_),
      pin_(std::move(other.pin_)),
      key_(std::move(other.key_)) {}

StoreKey::~StoreKey() {
    secureWipe(pin_);
}

std::string StoreKey::certificateId() const {
    return hexUpper(certificate_.sha1);
}

std::uint32_t StoreKey::setPin(const std::string& pin) {
    if (!pinProtected_) {
        return kStatusOk;
    }
    Pkcs12Ptr p12 = parsePkcs12(certificate_);
    if (!p12) {
        return kNteBadKeyset;
    }
    if (!pinOpens(p12.get(), pin)) {
        return kScardWWrongChv;
    }
    secureWipe(pin_);
    pin_ = pin;
    ProviderPinCache::remember(certificateId(), pin);
    return kStatusOk;
}

std::uint32_t StoreKey::unlock() {
    if (key_) {
        return kStatusOk;
    }
    Pkcs12Ptr p12 = parsePkcs12(certificate_);
    if (!p12) {
        return kNteBadKeyset;
    }
    if (!pinProtected_) {
        key_ = readKey(p12.get(), "");
        if (!key_ || !keyMatchesCompanion()) {
            key_.reset();
            return kNteBadKeyset;
        }
        return kStatusOk;
    }

    const std::string id = certificateId();
    std::string pin = pin_;
    ScopedWipe wipePin(pin);
    bool fromCache = false;
    if (pin.empty()) {
        if (auto cached = ProviderPinCache::lookup(id)) {
            pin = std::move(*cached);
            fromCache = true;
        } else {
            PinAnswer answer = ProviderPinCache::prompt(PinRequest{id});
            ScopedWipe wipeAnswer(answer.pin);
            if (answer.status != kStatusOk) {
                return answer.status;
            }
            pin = answer.pin;
        }
    }
    if (!pinOpens(p12.get(), pin)) {
        // A cached PIN the key no longer takes is never tried again.
        if (fromCache) {
            ProviderPinCache::forget(id);
        }
        return kScardWWrongChv;
    }
    key_ = readKey(p12.get(), pin.c_str());
    if (!key_ || !keyMatchesCompanion()) {
        key_.reset();
        return kNteBadKeyset;
    }
    ProviderPinCache::remember(id, pin);
    if (pin_ != pin) {
        secureWipe(pin_);
        pin_ = pin;
    }
    return kStatusOk;
}

bool StoreKey::keyMatchesCompanion() const {
    if (certificate_.companionPath.empty()) {
        return true;
    }
    const unsigned char* p = certificate_.der.data();
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(certificate_.der.size())));
    const bool matches = cert && X509_check_private_key(cert.get(), key_.get()) == 1;
    ERR_clear_error();
    if (!matches) {
        core::logLine(core::LogLevel::Warn,
                      "CertStore: " + core::escapeControlBytes(certificate_.companionPath) +
                          " is not the certificate of the key in " +
                          core::escapeControlBytes(certificate_.path));
    }
    return matches;
}

std::uint32_t StoreKey::unlockedPin(std::string& pin) {
    secureWipe(pin);
    pin.clear();
    const std::uint32_t status = unlock();
    if (status == kStatusOk) {
        pin = pin_;
    }
    return status;
}

std::uint32_t StoreKey::privateKey(EVP_PKEY*& key) {
    key = nullptr;
    const std::uint32_t status = unlock();
    if (status == kStatusOk) {
        key = key_.get();
    }
    return status;
}

std::uint32_t StoreKey::signHash(std::span<const std::uint8_t> digestInfo, std::span<std::uint8_t> out,
                                 std::size_t& size) {
    size = 0;
    const unsigned char* p = certificate_.der.data();
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(certificate_.der.size())));
    EVP_PKEY* publicKey = cert ? X509_get0_pubkey(cert.get()) : nullptr;
    if (publicKey == nullptr) {
        return kNteBadKeyset;
    }
    const std::size_t needed = static_cast<std::size_t>(EVP_PKEY_get_size(publicKey));
    if (out.empty()) {
        size = needed;
        return kStatusOk;
    }
    if (out.size() < needed) {
        return kNteBufferTooSmall;
    }
    if (const std::uint32_t status = unlock(); status != kStatusOk) {
        return status;
    }
    // No digest set: the input is padded (PKCS#1 type 1) and signed as given.
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(key_.get(), nullptr));
    std::size_t written = out.size();
    const bool ok = ctx && EVP_PKEY_sign_init(ctx.get()) == 1 &&
                    EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
                    EVP_PKEY_sign(ctx.get(), out.data(), &written, digestInfo.data(), digestInfo.size()) == 1;
    if (!ok) {
        ERR_clear_error();
        return kNteFail;
    }
    size = written;
    return kStatusOk;
}

}  // namespace velk::platform
