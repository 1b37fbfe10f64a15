#include "fakes/LoopbackHosts.h"

namespace velk::test {

LoopbackHosts::LoopbackHosts() : authority_(pki_) {}

LoopbackHosts::~LoopbackHosts() {
    // The variables go back first, then the servers stop.
    connectTo_.reset();
    caFile_.reset();
}

TestServer& LoopbackHosts::add(const std::string& host, bool requireClientCertificate, int port) {
    auto server = TestServer::tls(authority_.serverIdentity(host, requireClientCertificate));
    server->start(port);
    TestServer& added = *server;
    servers_[host] = std::move(server);
    exportEnvironment();
    return added;
}

std::string LoopbackHosts::connectToEntries() const {
    std::string entries;
    for (const auto& [host, server] : servers_) {
        if (!entries.empty()) {
            entries += ',';
        }
        entries += server->connectTo(host, 443);
    }
    return entries;
}

void LoopbackHosts::exportEnvironment() {
    connectTo_.reset();  // restore before replacing, so the original value comes back at the end
    connectTo_ = std::make_unique<ScopedEnv>("VELK_TEST_CONNECT_TO", connectToEntries());
    if (!caFile_) {
        caFile_ = std::make_unique<ScopedEnv>("VELK_TEST_CA_FILE", authority_.caFile());
    }
}

}  // namespace velk::test
