#pragma once

#include <string>

#include "fakes/LoopbackHosts.h"

namespace velk::test {

// The agency's certificate login as the agent meets it, on portal.nra.bg and
// login.nra.bg: the portal's entry point leaves a cookie and sends the
// browser home; the login host demands a client certificate of the test CA
// and sends the browser back to the portal with a code; the portal turns the
// code into the session cookie; the taxpayers endpoint answers 200 "[]" only
// to that session, else 401.
class FakeAgencyLogin {
public:
    static constexpr const char* kSessionCookie = "SESSION";
    static constexpr const char* kSessionValue = "s3ss10n-VALUE";

    explicit FakeAgencyLogin(LoopbackHosts& hosts);

    // Puts the routes above back, after a test changed some.
    void script();

    TestServer& portal() { return portal_; }
    TestServer& login() { return login_; }

private:
    TestServer& portal_;
    TestServer& login_;
};

}  // namespace velk::test
