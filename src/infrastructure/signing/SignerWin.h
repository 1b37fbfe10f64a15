#pragma once

#include "infrastructure/signing/ISigner.h"

namespace velk::signing {

// The signer over the current user's personal certificate store. Stateless:
// every call opens the store, finds the certificate and acquires its key anew,
// and releases them before it returns. signData signs with the platform's
// message encoder and no signed attributes; signDataForPortal builds with
// CmsBuilder, the key making the raw signature.
class SignerWin : public ISigner {
public:
    std::vector<CertificateInfo> listCertificates() override;
    Bytes signData(const Bytes& data, const std::string& certificateId, const std::string& pin) override;
    Bytes signDataForPortal(const Bytes& data, const std::string& certificateId,
                            const std::string& pin) override;
    bool warmUp(const std::string& certificateId, const std::string& pin) override;
    Bytes getCertificateDer(const std::string& certificateId) override;
};

}  // namespace velk::signing
