#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/PortalRecords.h"
#include "infrastructure/http/HttpResponse.h"
#include "operations/OperationRecords.h"

namespace velk::signing {
class ISigner;
}  // namespace velk::signing

namespace velk::core::operations {
class IPortalHandler;
}  // namespace velk::core::operations

namespace velk::core::infra::java {
class ZezizUrBridge;
}  // namespace velk::core::infra::java

namespace velk::core::infra::http {
class HttpClient;
}  // namespace velk::core::infra::http

namespace velk::core::infra::portal {

// Who the session acts for; the engine fills it from the active sender.
struct SessionIdentity {
    std::string identifier;
    std::int32_t identifierType = 0;  // IdentifierType code, 0 when unknown
    std::string certificateId;        // client certificate and signing certificate
    std::string signerEmail;
    std::string apiKey;  // the sender's key for the agency REST API
};

// A portal reply as the request helpers hand it out: status 0 when no
// response arrived.
struct PortalResponse {
    std::int32_t status = 0;
    std::string body;
    http::HttpHeaders headers;
};

// The agent's one session with the agency's web portal: the lazily created
// portal client with its in-memory cookie jar, the certificate login, the
// CSRF token, the taxpayer list and catalogue, and the selection of taxpayer,
// service and system an operation needs before it reads or files anything.
// Not safe for concurrent use; the engine runs one operation at a time.
class NapSession {
public:
    // The waits between portal steps go through this, so tests can record
    // them instead of sleeping.
    using Sleeper = std::function<void(std::chrono::milliseconds)>;

    // An empty sleeper blocks the calling thread on the monotonic clock.
    explicit NapSession(Sleeper sleeper = {});
    ~NapSession();
    NapSession(const NapSession&) = delete;
    NapSession& operator=(const NapSession&) = delete;

    // Configuration, from the engine. None of these touch the network.
    // A changed certificate takes the PIN remembered for it, if any.
    void configure(SessionIdentity identity);
    // The PIN typed or remembered for one certificate. It is presented only
    // while that certificate is the session's own, never for another.
    void setPin(const std::string& certificateId, const std::string& pin);
    // The PIN for the session's certificate; empty when none was given for it.
    const std::string& pin() const;
    // The card refused the PIN presented for the session's certificate: it is
    // forgotten here and among the remembered PINs, never presented again.
    void pinRefused();
    void setSigner(signing::ISigner* signer);
    signing::ISigner* signer() const;
    void setZezizUrBridge(java::ZezizUrBridge* bridge);
    java::ZezizUrBridge* zezizUrBridge() const;

    const SessionIdentity& identity() const;
    // The last failure, worded for the user.
    const std::string& lastError() const;
    // So an operation reports only its own failures, not an earlier one's.
    void clearLastError();
    const std::string& csrfToken() const;
    std::int32_t systemId() const;
    const std::optional<SelectedTaxpayer>& selectedTaxpayer() const;

    // Waits through the session's sleeper, for pauses the portal needs
    // between an operation's own steps.
    void sleep(std::chrono::milliseconds duration) const;

    // Empties the cookie jar and forgets the login and the selections; keeps
    // the client, the identity, the PIN and lastError.
    void reset();

    bool ensureLoggedIn();
    bool login();
    void refreshCsrfToken();

    // Thin helpers over the session client: no login, no retry, no logging.
    PortalResponse httpGet(const std::string& url);
    PortalResponse httpGetWithHeaders(const std::string& url, const http::HttpHeaders& headers);
    PortalResponse httpPostForm(const std::string& url, const http::FormFields& fields,
                                const http::HttpHeaders& headers);
    std::vector<std::uint8_t> httpGetBytes(const std::string& url);
    // Netscape cookie-file lines, one per cookie, each ended by a line feed.
    std::string cookieJarText();

    // Taxpayers and catalogue, cached for the whole process. The references
    // stay valid for the life of the process.
    // An unreadable reply gives the empty list and sets lastError.
    const std::vector<Taxpayer>& listTaxpayers();
    // Null when absent; then lastError says why.
    const Taxpayer* findTaxpayerByEik(const std::string& eik);
    const std::vector<Category>& categories();

    // Login, taxpayer, service and system for one operation. Empty on
    // failure, with lastError set.
    std::optional<ServiceLink> prepareFor(const operations::IPortalHandler& handler, const std::string& eik,
                                          std::int32_t year);
    // The same from the parameters "eik" and "year".
    std::optional<ServiceLink> prepareFromParams(const operations::IPortalHandler& handler,
                                                 const operations::ParamMap& params);
    bool selectTaxpayer(const std::string& eik);
    std::optional<ServiceLink> selectService(const operations::IPortalHandler& handler, std::int32_t year);
    void selectSystem(const ServiceLink& link);
    void markSessionActiveInUi(const std::string& serviceName);

    // Empties the process-wide taxpayer and catalogue caches. Tests only.
    static void resetProcessCachesForTests();

private:
    struct Impl;

    http::HttpClient& httpClient();
    void checkPinOnToken();
    void clearSession();
    std::optional<SelectedTaxpayer> httpSelectTaxpayer(std::int64_t tin);
    void httpSelectService(const std::string& linkId);
    http::HttpResponse withAuthRetry(const std::string& operationName,
                                     const std::function<http::HttpResponse()>& request);

    std::unique_ptr<Impl> impl_;
};

}  // namespace velk::core::infra::portal
