#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "support/TestPki.h"

namespace velk::test {

// Writes PKCS#12 files (and sidecars) into the folder the certificate store
// reads: $VELK_CERT_STORE_DIR, else <XDG_DATA_HOME>/VEZORodar/certstore/MY.
// Set the environment (IsolatedHome) before making one.
class CertStoreFolder {
public:
    CertStoreFolder();

    const std::string& path() const { return path_; }

    // NAME.p12, and NAME.json when a sidecar is given.
    void add(const std::string& name, const Der& pkcs12, const nlohmann::json& sidecar = nullptr) const;

    // A software key: no sidecar, opens without a password.
    void addSoftware(const std::string& name, const TestIdentity& identity) const;
    // A smart-card key behind a PIN: {"provider", "keyApi", "pinProtected": true}.
    void addPinProtected(const std::string& name, const TestIdentity& identity, const std::string& pin,
                         const std::string& provider = "Microsoft Smart Card Key Storage Provider",
                         const std::string& keyApi = "ncrypt") const;

private:
    std::string path_;
};

}  // namespace velk::test
