#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include <openssl/evp.h>

#include "platform/CertStore.h"
#include "platform/OpenSslPtr.h"

namespace velk::platform {

// The private key of one store certificate for the time of one operation, in
// place of the handle CryptAcquireCertificatePrivateKey gives. The key is
// read from the PKCS#12 file only when it is first used; for a PIN-protected
// key the PIN is the one set, else the one the provider cached, else the one
// the prompt answers. Every call returns kStatusOk or a status of PinPrompt.h.
class StoreKey {
public:
    // Fails with kNteBadKeyset when the store holds no key for the certificate.
    static std::optional<StoreKey> acquire(const StoreCertificate& certificate, std::uint32_t& status);

    ~StoreKey();
    StoreKey(StoreKey&&) noexcept;
    StoreKey& operator=(StoreKey&&) = delete;
    StoreKey(const StoreKey&) = delete;
    StoreKey& operator=(const StoreKey&) = delete;

    bool isNCrypt() const { return keyApi_ == KeyApi::NCrypt; }
    const StoreCertificate& certificate() const { return certificate_; }

    // Hands the smart-card PIN to the key. A PIN-protected key checks it at
    // once (kScardWWrongChv when wrong) and the provider caches it; a key
    // without PIN ignores it.
    std::uint32_t setPin(const std::string& pin);

    // Raw RSA PKCS#1 v1.5 signature of an encoded DigestInfo, signed as
    // given. With an empty output only the size is reported (no PIN needed).
    std::uint32_t signHash(std::span<const std::uint8_t> digestInfo, std::span<std::uint8_t> out,
                           std::size_t& size);

    // The unlocked key, owned by this object.
    std::uint32_t privateKey(EVP_PKEY*& key);
    // Unlocks the key and gives the PIN that opened it (empty for a key
    // without PIN), for a TLS layer that opens the file itself.
    std::uint32_t unlockedPin(std::string& pin);

private:
    StoreKey(const StoreCertificate& certificate, KeyProviderInfo provider);
    std::uint32_t unlock();
    // A certificate taken from a companion file must belong to the key.
    bool keyMatchesCompanion() const;
    std::string certificateId() const;

    StoreCertificate certificate_;
    KeyApi keyApi_;
    bool pinProtected_;
    std::string pin_;
    EvpPkeyPtr key_;
};

}  // namespace velk::platform
