#pragma once

#include <string>
#include <vector>

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

    // NAME.p12 as `openssl pkcs12 -export` makes it with a password and no
    // other option (key and certificates encrypted), without a sidecar.
    // An empty PIN makes the file the same command makes with an empty
    // password. extraOptions go to the command as they are.
    void addExported(const std::string& name, const TestIdentity& identity, const std::string& pin,
                     const std::vector<std::string>& extraOptions = {}) const;

    // NAME.crt as the user makes it from NAME.p12 with
    // `openssl pkcs12 [extraOptions] -in NAME.p12 -clcerts -nokeys -out NAME.crt`,
    // the PIN typed; the command's exit code (a failed one leaves NAME.crt empty).
    int extractCompanion(const std::string& name, const std::string& pin,
                         const std::vector<std::string>& extraOptions = {}) const;

    // The certificate beside NAME.p12, as NAME + extension, PEM or DER.
    enum class Encoding { Pem, Der };
    void addCompanion(const std::string& name, const std::string& extension, const TestIdentity& identity,
                      Encoding encoding) const;

private:
    std::string path_;
};

}  // namespace velk::test
