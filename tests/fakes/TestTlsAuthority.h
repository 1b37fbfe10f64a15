#pragma once

#include <string>

#include "fakes/TestServer.h"
#include "support/TempDir.h"
#include "support/TestPki.h"

namespace velk::test {

// TLS for the loopback servers: server identities named after the hosts
// clients ask for (reached through VELK_TEST_CONNECT_TO), issued by the test
// CA, and the CA file clients trust (VELK_TEST_CA_FILE).
class TestTlsAuthority {
public:
    explicit TestTlsAuthority(const TestPki& pki);

    // A server identity for hostName; with requireClientCertificate the
    // server asks for a client certificate of the test CA.
    TlsIdentity serverIdentity(const std::string& hostName, bool requireClientCertificate) const;

    // PEM file of the CA.
    const std::string& caFile() const { return caFile_; }

    static std::string certificatePem(const TestIdentity& identity);
    static std::string privateKeyPem(const TestIdentity& identity);

private:
    const TestPki& pki_;
    TempDir dir_;
    std::string caFile_;
};

}  // namespace velk::test
