#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/OpenSslPtr.h"
#include "platform/StoreKey.h"

namespace velk::platform {

// The platform's encoder of signed messages (in place of CryptMsgOpenToEncode,
// CryptMsgUpdate and CryptMsgGetParam): a detached CMS SignedData over the
// content, SHA-256 with RSA PKCS#1 v1.5 by the key's certificate, the
// certificate included, no signed attributes. The key is used (and its PIN
// asked for) when the content is handed over.
class SignedMessageEncoder {
public:
    static constexpr std::uint32_t kDetachedFlag = 0x4;
    // Asks for the CMS form of the encapsulated content info; for content of
    // type id-data both forms encode alike, so it changes nothing here.
    static constexpr std::uint32_t kCmsEncapsulatedContentFlag = 0x40;

    // status is kStatusOk or a status of PinPrompt.h.
    static std::unique_ptr<SignedMessageEncoder> open(StoreKey& key, std::uint32_t flags,
                                                      std::uint32_t& status);

    // The whole content, final: digests and signs it.
    std::uint32_t update(std::span<const std::uint8_t> content);

    // The DER ContentInfo; empty before a successful update or on failure.
    std::vector<std::uint8_t> encoded() const;

private:
    SignedMessageEncoder(StoreKey& key, X509Ptr certificate, CmsPtr cms);

    StoreKey& key_;
    X509Ptr certificate_;
    CmsPtr cms_;
    bool signed_ = false;
};

}  // namespace velk::platform
