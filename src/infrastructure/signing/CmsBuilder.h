#pragma once

#include <functional>

#include "infrastructure/signing/Bytes.h"

namespace velk::signing {

// Makes the raw RSA PKCS#1 v1.5 signature of a DER DigestInfo with a key
// OpenSSL cannot hold (smart card, key store, PKCS#11 token). Returns as many
// bytes as the modulus has; empty means failure. May raise
// InvalidPinException or SigningCancelledException.
using RawSign = std::function<Bytes(const Bytes& digestInfo)>;

// Detached CMS SignedData whose private-key operation is delegated to a
// callback: OpenSSL sees an RSA key made of the certificate's public part,
// with its private encryption routed to rawSign.
class CmsBuilder {
public:
    // DER of the ContentInfo: SHA-256 (explicit NULL parameter in the
    // SignerInfo), signed attributes content type, signing time, message
    // digest and, when asked for, ESS signingCertificateV2; the certificate
    // included; the content left out. Empty on failure. An exception raised
    // by rawSign reaches the caller unchanged, after everything is released.
    static Bytes build(const Bytes& data, const Bytes& certDer, RawSign rawSign,
                       bool addSigningCertificateV2);
};

}  // namespace velk::signing
