#pragma once

#include <string>
#include <vector>

#include "infrastructure/signing/Bytes.h"
#include "infrastructure/signing/CertificateInfo.h"

namespace velk::signing {

// Every signature of the system goes through one signer. Failures are logged
// and reported as an empty result or false; the only exceptions a signer
// raises of its own are InvalidPinException and SigningCancelledException.
// An empty PIN means: hand no PIN to the key.
class ISigner {
public:
    virtual ~ISigner();

    // Certificates that have a private key, in the order the store or token
    // yields them.
    virtual std::vector<CertificateInfo> listCertificates() = 0;

    // DER of a detached CMS SignedData over data: SHA-256, RSA PKCS#1 v1.5,
    // the signer's certificate included.
    virtual Bytes signData(const Bytes& data, const std::string& certificateId, const std::string& pin) = 0;

    // As signData, with the ESS signingCertificateV2 signed attribute the
    // portal requires. By default the same as signData.
    virtual Bytes signDataForPortal(const Bytes& data, const std::string& certificateId,
                                    const std::string& pin);

    // Reaches the key with the PIN, so that a later use of the key (also the
    // TLS handshake) does not prompt.
    virtual bool warmUp(const std::string& certificateId, const std::string& pin) = 0;

    virtual Bytes getCertificateDer(const std::string& certificateId) = 0;
};

}  // namespace velk::signing
