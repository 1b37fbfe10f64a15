#pragma once

#include <string>

#include "support/TempDir.h"
#include "support/TestPki.h"

namespace velk::test {

// The user's personal certificate store in a temporary folder
// (VELK_CERT_STORE_DIR while this object lives).
class FakeCertStore {
public:
    FakeCertStore();

    // NAME.p12 holding the identity, its key locked by pin, and the NAME.json
    // sidecar of a smart-card key provider. Returns the certificate id.
    std::string add(const std::string& name, const TestIdentity& identity, const std::string& pin,
                    bool pinProtected);

    std::string folder() const { return dir_.str(); }

private:
    TempDir dir_;
    ScopedEnv env_;
};

}  // namespace velk::test
