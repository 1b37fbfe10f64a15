#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "support/TestPki.h"

namespace velk::test {

// A real SoftHSM2 token in a temporary folder: writes a softhsm2.conf there,
// exports SOFTHSM2_CONF (restored when the object goes), initialises a token
// with softhsm2-util and writes keys and certificates through the module.
// SoftHSM assigns the slot number; slotId() reads it back.
class SoftHsmToken {
public:
    explicit SoftHsmToken(const std::string& label = "VELK TEST", const std::string& userPin = "1234");
    ~SoftHsmToken();
    SoftHsmToken(const SoftHsmToken&) = delete;
    SoftHsmToken& operator=(const SoftHsmToken&) = delete;

    // Path of libsofthsm2.so; empty when SoftHSM2 is not installed.
    static std::string modulePath();

    unsigned long slotId() const { return slotId_; }
    const std::string& userPin() const { return userPin_; }
    const std::string& label() const { return label_; }

    // The RSA private key and the certificate of the identity under one CKA_ID.
    void addIdentity(const TestIdentity& identity, const std::vector<std::uint8_t>& ckaId);
    // Certificate objects only (no key), with any bytes as CKA_VALUE; each
    // pair is a value and its CKA_ID.
    using CertificateObject = std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>>;
    void addCertificateObjects(const std::vector<CertificateObject>& objects);

    // "<slot>:<CKA_ID in upper-case hexadecimal>", the signer's id.
    std::string certificateId(const std::vector<std::uint8_t>& ckaId) const;

private:
    struct Module;

    TempDir dir_;
    std::unique_ptr<ScopedEnv> conf_;
    std::string label_;
    std::string userPin_;
    unsigned long slotId_ = 0;
};

}  // namespace velk::test
