#pragma once

#include <memory>
#include <string>

#include "infrastructure/signing/ISigner.h"

namespace velk::signing {

// The signer over a PKCS#11 module loaded at run time. Certificates are the
// token's CKO_CERTIFICATE objects; a certificate's key is the
// CKO_PRIVATE_KEY with the same CKA_ID; its id is "<slot>:<CKA_ID in hex>".
// Signatures come from CmsBuilder with C_Sign (CKM_RSA_PKCS) as the delegate
// and always carry signingCertificateV2.
//
// The module is initialised with CKF_OS_LOCKING_OK (the OpenSSL engine may
// use it for TLS on other threads) and this signer's own calls are serialised
// by one mutex. The last PIN a token accepted is kept in memory and used when
// a call brings an empty PIN; a PIN given explicitly always wins.
class SignerPkcs11 : public ISigner {
public:
    explicit SignerPkcs11(std::string modulePath);
    ~SignerPkcs11() override;
    SignerPkcs11(const SignerPkcs11&) = delete;
    SignerPkcs11& operator=(const SignerPkcs11&) = delete;

    std::vector<CertificateInfo> listCertificates() override;
    Bytes signData(const Bytes& data, const std::string& certificateId, const std::string& pin) override;
    bool warmUp(const std::string& certificateId, const std::string& pin) override;
    Bytes getCertificateDer(const std::string& certificateId) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velk::signing
