#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <openssl/x509.h>

#include "platform/OpenSslPtr.h"

namespace velk::test {

// A detached CMS SignedData read back for checks the way a receiver would
// make them.
class DetachedCms {
public:
    using Bytes = std::vector<std::uint8_t>;

    // Empty when the bytes are no CMS.
    static std::optional<DetachedCms> parse(const Bytes& der);

    // CMS_verify with the data as detached content, binary, against the store.
    bool verify(const Bytes& data, X509_STORE* trust) const;

    // Signed attributes of the first SignerInfo (0 when it has none).
    int signedAttributeCount() const;
    // The DER value of the signingCertificateV2 attribute, if present.
    std::optional<Bytes> signingCertificateV2Der() const;
    // certHash of the first ESSCertIDv2 (hash algorithm SHA-256 by default).
    std::optional<Bytes> signingCertificateV2Hash() const;
    // Whether the first SignerInfo's digestAlgorithm carries an explicit NULL parameter.
    bool digestAlgorithmHasNullParameter() const;
    bool hasEmbeddedContent() const;
    // DER of the first certificate in the certificates set.
    Bytes firstCertificateDer() const;

private:
    explicit DetachedCms(platform::CmsPtr cms) : cms_(std::move(cms)) {}
    CMS_SignerInfo* firstSigner() const;

    platform::CmsPtr cms_;
};

}  // namespace velk::test
