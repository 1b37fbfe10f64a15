#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fakes/LoopbackHosts.h"
#include "fakes/agency/CloudRoutes.h"
#include "fakes/agency/DebtPaymentRoutes.h"
#include "fakes/agency/Dec16Routes.h"
#include "fakes/agency/JavaClientRoutes.h"
#include "fakes/agency/PlsRoutes.h"
#include "fakes/agency/RestApiRoutes.h"
#include "fakes/agency/VatRoutes.h"

namespace velk::test {

class AgencyPortalState;

// The revenue agency as the agent meets it, on loopback servers under the
// production host names (portal.nra.bg, login.nra.bg, the REST API's
// api.nra.bg and the maker's cloud.vezorodar.bg, reached through
// LoopbackHosts):
// - the portal's entry point leaves a cookie and sends the browser home; the
//   login host demands a client certificate of the test CA and sends the
//   browser back with a code; the portal turns the code into a new session
//   cookie;
// - the taxpayers, "/auth/users/me", taxpayer select and service-link select
//   endpoints answer only to a live session (else 401); the catalogue is "[]"
//   to anyone else; "/details/..." and "/home.html" answer every caller;
// - every taxpayer selection renews the CSRF token;
// - POST kExpirePath (or expireSessions) ends every session.
// Every request is logged by the servers, and any route can be replaced with
// TestServer::on; script() puts the routes and data back.
class FakeAgency {
public:
    static constexpr const char* kSessionCookie = "SESSION";
    // Every session cookie value starts with this.
    static constexpr const char* kSessionValuePrefix = "s3ss10n-VALUE";
    static constexpr const char* kExpirePath = "/__fake/expire-sessions";

    struct Ports {
        int portal = 0;  // 0: a free port
        int login = 0;
        int api = 0;    // the REST API host
        int cloud = 0;  // the maker's cloud
    };

    explicit FakeAgency(LoopbackHosts& hosts);
    FakeAgency(LoopbackHosts& hosts, Ports ports);
    ~FakeAgency();
    FakeAgency(const FakeAgency&) = delete;
    FakeAgency& operator=(const FakeAgency&) = delete;

    // Puts the routes and the served data back; live sessions stay.
    void script();

    TestServer& portal() { return portal_; }
    TestServer& login() { return login_; }
    TestServer& api() { return api_; }
    TestServer& cloud() { return cloud_; }

    void expireSessions();
    // Logins completed so far (sessions handed out).
    int sessionsOpened() const;
    // What "/auth/users/me" hands out now.
    std::string csrfToken() const;

    // JSON texts the portal serves to a live session.
    void setTaxpayersJson(std::string json);
    void setCatalogueJson(std::string json);
    // The next service-link selections answer these statuses, one each,
    // whatever the session; a 401 or 405 also sets a cookie, as the agency's
    // firewall does.
    void queueServiceSelectStatuses(const std::vector<int>& statuses);

    // The debts-and-payments endpoints and their data.
    DebtPaymentRoutes& debtPayments() { return debtPayments_; }
    // The filed forms 1 and 6 and their signed documents.
    Dec16Routes& dec16() { return dec16_; }
    // The PLS upload, listings and result pages, and their documents.
    PlsRoutes& pls() { return pls_; }
    // The REST API for declarations (api.nra.bg), and its documents.
    RestApiRoutes& restApi() { return restApi_; }
    // The Java VAT client's JNLP manifest and JARs (the stand-in client).
    JavaClientRoutes& javaClient() { return javaClient_; }
    // The filed VAT returns, their files and the session probe page.
    VatRoutes& vat() { return vat_; }
    // The maker's cloud: the agent version reply and the update downloads.
    CloudRoutes& cloudRoutes() { return cloudRoutes_; }

private:
    TestServer& portal_;
    TestServer& login_;
    TestServer& api_;
    TestServer& cloud_;
    std::shared_ptr<AgencyPortalState> state_;
    DebtPaymentRoutes debtPayments_;
    Dec16Routes dec16_;
    PlsRoutes pls_;
    RestApiRoutes restApi_;
    JavaClientRoutes javaClient_;
    VatRoutes vat_;
    CloudRoutes cloudRoutes_;
};

}  // namespace velk::test
