#pragma once

#include <string>
#include <vector>

#include "infrastructure/http/CurlPtr.h"

namespace velk::core::infra::http {

// The test seams of the transport: VELK_TEST_CONNECT_TO (comma-separated
// "host:port:127.0.0.1:fakePort" entries for CURLOPT_CONNECT_TO) and
// VELK_TEST_CA_FILE (CURLOPT_CAINFO in place of the system bundle). Host
// names, SNI, cookies and redirects stay the production ones; only the
// connections go elsewhere. Unset variables change nothing.
class TransportOverrides {
public:
    static TransportOverrides fromEnvironment();

    // The handle keeps a pointer to the connect-to list: this object must
    // outlive every transfer made on the handle.
    void apply(CURL* handle) const;

    const std::vector<std::string>& connectTo() const { return connectTo_; }
    const std::string& caFile() const { return caFile_; }

private:
    std::vector<std::string> connectTo_;
    std::string caFile_;
    CurlSlistPtr connectToList_;
};

}  // namespace velk::core::infra::http
