#pragma once

#include <map>
#include <memory>
#include <string>

#include "fakes/TestServer.h"
#include "fakes/TestTlsAuthority.h"
#include "support/TempDir.h"
#include "support/TestPki.h"

namespace velk::test {

// Production host names served by loopback TLS servers: while this object
// lives, VELK_TEST_CONNECT_TO sends each added host's port 443 to its server
// and VELK_TEST_CA_FILE makes clients trust the test CA. Clients made
// afterwards use the production URLs unchanged.
class LoopbackHosts {
public:
    LoopbackHosts();
    ~LoopbackHosts();
    LoopbackHosts(const LoopbackHosts&) = delete;
    LoopbackHosts& operator=(const LoopbackHosts&) = delete;

    // A started server for the host, on the port (0: a free one); with
    // requireClientCertificate the handshake demands a client certificate
    // issued by pki().
    TestServer& add(const std::string& host, bool requireClientCertificate = false, int port = 0);
    TestServer& operator[](const std::string& host) { return *servers_.at(host); }

    const TestPki& pki() const { return pki_; }
    // The values exported as VELK_TEST_CONNECT_TO and VELK_TEST_CA_FILE.
    std::string connectToEntries() const;
    const std::string& caFile() const { return authority_.caFile(); }

private:
    void exportEnvironment();

    TestPki pki_;
    TestTlsAuthority authority_;
    std::map<std::string, std::unique_ptr<TestServer>> servers_;
    std::unique_ptr<ScopedEnv> connectTo_;
    std::unique_ptr<ScopedEnv> caFile_;
};

}  // namespace velk::test
