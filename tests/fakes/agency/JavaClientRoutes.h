#pragma once

#include <string>

#include "fakes/TestServer.h"

namespace velk::test {

// The agency's Java VAT client as the portal publishes it, served from the
// stand-in client the build makes:
// - GET /ls/java/zezizurls-vat.jnlp: a JNLP manifest whose shared resources
//   list VATClientService.jar, SignerService.jar and LSManager.jar, with a
//   Windows/amd64 block for native/vatclient-win-x86_64.jar and a Windows/x86
//   block for native/vatclient-win-x86.jar (which is not served);
// - GET /ls/<jar>: the JAR's bytes, 404 for any other.
// They answer every caller: what the real portal asks of a caller is not
// known here, and tests replace a route to script a refusal.
class JavaClientRoutes {
public:
    void install(TestServer& portal);

    static std::string manifest();
    // The folder holding the stand-in JARs.
    static std::string clientDir();
};

}  // namespace velk::test
