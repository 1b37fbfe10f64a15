#include "infrastructure/portal/NapSession.h"

#include <climits>
#include <exception>
#include <string_view>
#include <thread>
#include <utility>

#include "common/AgencyEndpoints.h"
#include "common/CodeTables.h"
#include "common/JsonUtils.h"
#include "common/Logger.h"
#include "common/TextUtils.h"
#include "infrastructure/http/HttpClient.h"
#include "infrastructure/http/Pkcs11KeyId.h"
#include "infrastructure/portal/CategoryCache.h"
#include "infrastructure/portal/LoginFlow.h"
#include "infrastructure/portal/PortalHeaders.h"
#include "infrastructure/portal/PortalJsonReaders.h"
#include "infrastructure/portal/PortalReplies.h"
#include "infrastructure/portal/SessionPin.h"
#include "infrastructure/portal/TaxpayerCache.h"
#include "infrastructure/signing/ISigner.h"
#include "infrastructure/signing/InvalidPinException.h"
#include "operations/IPortalHandler.h"

namespace velk::core::infra::portal {

namespace {

using std::chrono::milliseconds;

std::string portalUrl(std::string_view path) {
    return std::string(AgencyEndpoints::kPortalBaseUrl) + std::string(path);
}

// Every cookie the session installs belongs to the bare portal host (no
// leading dot, so not to subdomains), path "/", not secure.
void addPortalCookie(http::HttpClient& client, const std::string& name, const std::string& value) {
    client.addCookie(name, value, std::string(AgencyEndpoints::kPortalHost), "/", false);
}

PortalResponse toPortalResponse(http::HttpResponse response) {
    return PortalResponse{response.status, std::move(response.body), std::move(response.headers)};
}

bool isSuccess(std::int32_t status) {
    return status >= 200 && status <= 299;
}

bool isAuthRefusal(std::int32_t status) {
    return status == 401 || status == 405;
}

// Lines of the session quote the portal (names, titles, errors): each is
// escaped whole, which leaves the session's own texts as they are.
void info(const std::string& text) {
    logLine(LogLevel::Info, escapeControlBytes(text));
}

void warn(const std::string& text) {
    logLine(LogLevel::Warn, escapeControlBytes(text));
}

const std::vector<Taxpayer>& emptyTaxpayers() {
    static const std::vector<Taxpayer> kEmpty;
    return kEmpty;
}

// The year parameter as an integer; 0 when it has no leading digits or lies
// outside the 32-bit range. A JSON number arrives as "2025.000000".
std::int32_t yearFromText(const std::string& text) {
    const std::optional<std::int64_t> value = parseInt64(text);
    if (!value || *value < INT32_MIN || *value > INT32_MAX) {
        return 0;
    }
    return static_cast<std::int32_t>(*value);
}

}  // namespace

struct NapSession::Impl {
    // How the last retry ladder ended; the service selection uses it to
    // restore the taxpayer context that a re-login wiped.
    enum class Relogin { None, Succeeded, Failed };

    SessionIdentity identity;
    SessionPin pin;
    // The held PIN was tried on the token before the portal client got it.
    bool pinChecked = false;
    // That try was refused; the next login reports it.
    bool pinRefusedBeforeLogin = false;
    signing::ISigner* signer = nullptr;
    java::ZezizUrBridge* zezizUrBridge = nullptr;
    bool loggedIn = false;
    std::string lastError;
    std::optional<SelectedTaxpayer> selectedTaxpayer;
    std::string selectedServiceId;
    std::int32_t systemId = 0;
    bool inRetry = false;
    std::string csrfToken;
    std::unique_ptr<http::HttpClient> httpClient;

    // The identifier the current taxpayer selection was made with.
    std::string selectedEik;
    Relogin lastRelogin = Relogin::None;
    Sleeper sleeper;

    void sleep(milliseconds duration) const {
        if (sleeper) {
            sleeper(duration);
        } else {
            std::this_thread::sleep_for(duration);  // steady clock
        }
    }
};

NapSession::NapSession(Sleeper sleeper) : impl_(std::make_unique<Impl>()) {
    impl_->sleeper = std::move(sleeper);
}

NapSession::~NapSession() = default;

// ---------------------------------------------------------------------------
// Configuration

void NapSession::configure(SessionIdentity identity) {
    const bool certificateChanged = identity.certificateId != impl_->identity.certificateId;
    impl_->identity = std::move(identity);
    if (certificateChanged) {
        impl_->httpClient.reset();
        clearSession();
        // Another card: only its own remembered PIN, or none, is presented.
        impl_->pin.adoptRemembered(impl_->identity.certificateId);
        impl_->pinChecked = false;
        impl_->pinRefusedBeforeLogin = false;
    }
}

void NapSession::setPin(const std::string& certificateId, const std::string& pin) {
    // Another certificate's PIN is only kept, for when that one is used.
    const bool presentedChanges = certificateId == impl_->identity.certificateId && pin != this->pin();
    impl_->pin.set(certificateId, pin);
    if (!presentedChanges) {
        return;
    }
    // The PIN is baked into the client's key set-up. The flags stay, but
    // without a client the next ensureLoggedIn cannot probe and logs in again.
    impl_->httpClient.reset();
    impl_->pinChecked = false;
    impl_->pinRefusedBeforeLogin = false;
}

const std::string& NapSession::pin() const {
    return impl_->pin.pinFor(impl_->identity.certificateId);
}

void NapSession::pinRefused() {
    impl_->pin.refused(impl_->identity.certificateId);
}

void NapSession::setSigner(signing::ISigner* signer) {
    impl_->signer = signer;
}

signing::ISigner* NapSession::signer() const {
    return impl_->signer;
}

void NapSession::setZezizUrBridge(java::ZezizUrBridge* bridge) {
    impl_->zezizUrBridge = bridge;
}

java::ZezizUrBridge* NapSession::zezizUrBridge() const {
    return impl_->zezizUrBridge;
}

const SessionIdentity& NapSession::identity() const {
    return impl_->identity;
}

const std::string& NapSession::lastError() const {
    return impl_->lastError;
}

void NapSession::clearLastError() {
    impl_->lastError.clear();
}

const std::string& NapSession::csrfToken() const {
    return impl_->csrfToken;
}

std::int32_t NapSession::systemId() const {
    return impl_->systemId;
}

const std::optional<SelectedTaxpayer>& NapSession::selectedTaxpayer() const {
    return impl_->selectedTaxpayer;
}

void NapSession::sleep(milliseconds duration) const {
    impl_->sleep(duration);
}

void NapSession::reset() {
    clearSession();
}

void NapSession::resetProcessCachesForTests() {
    CategoryCache::instance().clear();
    TaxpayerCache::instance().clear();
}

http::HttpClient& NapSession::httpClient() {
    if (!impl_->httpClient) {
        checkPinOnToken();
        impl_->httpClient = http::HttpClient::forPortal(impl_->identity.certificateId, pin());
    }
    return *impl_->httpClient;
}

// The TLS layer cannot tell a refused token PIN from any other failure, and
// every new client would present it again. So the PIN is tried once through
// the signer first, and a refused one is forgotten before TLS sees it.
void NapSession::checkPinOnToken() {
    const std::string& certificateId = impl_->identity.certificateId;
    if (impl_->pinChecked || pin().empty() || impl_->signer == nullptr ||
        !http::isPkcs11CertificateId(certificateId)) {
        return;
    }
    try {
        impl_->pinChecked = impl_->signer->warmUp(certificateId, pin());
    } catch (const signing::InvalidPinException&) {
        pinRefused();
        impl_->pinRefusedBeforeLogin = true;
    } catch (const std::exception& e) {
        // A cancelled or failed try leaves the PIN to the TLS layer.
        warn(std::string("NapSession: PIN check failed: ") + e.what());
    }
}

void NapSession::clearSession() {
    if (impl_->httpClient) {
        impl_->httpClient->clearCookies();
    }
    impl_->loggedIn = false;
    impl_->selectedTaxpayer.reset();
    impl_->selectedEik.clear();
    impl_->selectedServiceId.clear();
    impl_->systemId = 0;
    impl_->csrfToken.clear();
}

// ---------------------------------------------------------------------------
// Login and CSRF

bool NapSession::ensureLoggedIn() {
    if (impl_->loggedIn && impl_->httpClient && LoginFlow::isSessionAlive(*impl_->httpClient)) {
        return true;
    }
    info("NapSession::ensureLoggedIn: session not active — calling login()");
    return login();
}

bool NapSession::login() {
    impl_->lastError.clear();
    if (impl_->identity.certificateId.empty()) {
        impl_->lastError = "Не е избран сертификат (certificateId is empty).";
        warn("NapSession::login: " + impl_->lastError);
        return false;
    }
    http::HttpClient& client = httpClient();
    if (std::exchange(impl_->pinRefusedBeforeLogin, false)) {
        impl_->loggedIn = false;
        impl_->lastError = signing::InvalidPinException().what();
        warn("NapSession::login failed: " + impl_->lastError);
        return false;
    }
    // No signer and no PIN provider: the token PIN reaches TLS through the
    // client's own key set-up, a store key's provider handles its PIN itself.
    LoginFlow flow(&client, nullptr, impl_->identity.certificateId, {});
    impl_->loggedIn = flow.run();
    if (impl_->loggedIn) {
        const std::string trueText = base64Encode(std::string_view("true"));
        addPortalCookie(client, "loggedIn", trueText);
        addPortalCookie(client, "es-onb", "initial");
        return true;
    }
    impl_->lastError =
        flow.error().empty() ? std::string("login failed (no detailed error from LoginFlow)") : flow.error();
    warn("NapSession::login failed: " + impl_->lastError);
    return false;
}

void NapSession::refreshCsrfToken() {
    impl_->csrfToken.clear();
    const http::HttpResponse response = httpClient().get(portalUrl("/auth/users/me"), PortalJsonHeaders);
    if (isSuccess(response.status) && !response.body.empty()) {
        try {
            const json reply = parseExternalJson(response.body);
            if (reply.is_object()) {
                const auto it = reply.find("_csrf");
                if (it != reply.end() && it->is_string()) {
                    impl_->csrfToken = it->get<std::string>();
                    info("NapSession::refreshCsrfToken: acquired");
                    return;
                }
            }
        } catch (const std::exception&) {
            // Counts as no token.
        }
    }
    warn("NapSession::refreshCsrfToken: failed (HTTP " + std::to_string(response.status) + ")");
}

// ---------------------------------------------------------------------------
// Request helpers

PortalResponse NapSession::httpGet(const std::string& url) {
    return toPortalResponse(httpClient().get(url, {}));
}

PortalResponse NapSession::httpGetWithHeaders(const std::string& url, const http::HttpHeaders& headers) {
    return toPortalResponse(httpClient().get(url, headers));
}

PortalResponse NapSession::httpPostForm(const std::string& url, const http::FormFields& fields,
                                        const http::HttpHeaders& headers) {
    return toPortalResponse(httpClient().postForm(url, fields, headers));
}

std::vector<std::uint8_t> NapSession::httpGetBytes(const std::string& url) {
    return httpClient().getBytes(url, {});
}

std::string NapSession::cookieJarText() {
    return httpClient().cookieList();
}

// ---------------------------------------------------------------------------
// Taxpayers and catalogue

const std::vector<Taxpayer>& NapSession::listTaxpayers() {
    const std::string& key = impl_->identity.certificateId;
    if (!key.empty()) {
        if (const std::vector<Taxpayer>* cached = TaxpayerCache::instance().find(key)) {
            return *cached;
        }
    }
    // A failed listing sets lastError, so that callers do not take it for a
    // certificate without taxpayers.
    const std::string url = portalUrl("/api/base/taxpayers");
    const http::HttpResponse response = httpClient().get(url, PortalJsonHeaders);
    if (!isSuccess(response.status)) {
        warn("NapSession::listTaxpayers: HTTP " + std::to_string(response.status));
        impl_->lastError = "HTTP " + std::to_string(response.status) + " от " + url;
        return emptyTaxpayers();
    }
    std::vector<Taxpayer> list;
    try {
        const json reply = parseExternalJson(response.body);
        if (!reply.is_array()) {
            warn("NapSession::listTaxpayers: unexpected body — " + loggableText(response.body, 200));
            impl_->lastError = "Неочакван JSON — не е масив";
            return emptyTaxpayers();
        }
        for (const json& element : reply) {
            list.push_back(readTaxpayer(element));
        }
    } catch (const std::exception& e) {
        warn(std::string("NapSession::listTaxpayers parse: ") + e.what());
        // The parser quotes what it read, which need not be UTF-8.
        impl_->lastError = toValidUtf8(std::string("Parse грешка: ") + e.what());
        return emptyTaxpayers();
    }
    info("NapSession::listTaxpayers: " + std::to_string(list.size()) + " taxpayer(s) returned");
    if (key.empty() || list.empty()) {
        return emptyTaxpayers();
    }
    return TaxpayerCache::instance().insert(key, std::move(list));
}

const Taxpayer* NapSession::findTaxpayerByEik(const std::string& eik) {
    const std::vector<Taxpayer>& list = listTaxpayers();
    for (const Taxpayer& taxpayer : list) {
        if (taxpayer.pin == eik) {
            return &taxpayer;
        }
    }
    impl_->lastError = "Фирма с избрания ЕИК не е намерена в списъка на задължените лица";
    impl_->lastError += list.empty() ? std::string(" (списъкът е празен — сесията може да не е активна)")
                                     : " (налични задължени лица: " + std::to_string(list.size()) + ")";
    return nullptr;
}

const std::vector<Category>& NapSession::categories() {
    return CategoryCache::instance().getOrLoad([this]() -> std::optional<std::vector<Category>> {
        const http::HttpResponse response =
            httpClient().get(portalUrl("/api/base/categories"), PortalJsonHeaders);
        if (!isSuccess(response.status)) {
            warn("NapSession::categories: HTTP " + std::to_string(response.status));
            return std::nullopt;
        }
        std::vector<Category> catalogue;
        try {
            const json reply = parseExternalJson(response.body);
            if (!reply.is_array()) {
                return std::nullopt;
            }
            catalogue = readCatalogue(reply);
        } catch (const std::exception& e) {
            warn(std::string("NapSession::categories parse: ") + e.what());
            return std::nullopt;
        }
        if (catalogue.empty()) {
            warn("NapSession::categories: empty catalogue — not cached");
            return std::nullopt;
        }
        info("NapSession::categories: " + std::to_string(catalogue.size()) +
             " categories loaded (process-wide)");
        return catalogue;
    });
}

// ---------------------------------------------------------------------------
// Taxpayer, service and system selection

std::optional<ServiceLink> NapSession::prepareFor(const operations::IPortalHandler& handler,
                                                  const std::string& eik, std::int32_t year) {
    impl_->lastError.clear();
    if (!ensureLoggedIn()) {
        if (impl_->lastError.empty()) {
            impl_->lastError = "Неуспешен вход в НАП";
        }
        return std::nullopt;
    }
    if (!selectTaxpayer(eik)) {
        return std::nullopt;
    }
    std::optional<ServiceLink> link = selectService(handler, year);
    if (!link) {
        return std::nullopt;
    }
    selectSystem(*link);
    return link;
}

std::optional<ServiceLink> NapSession::prepareFromParams(const operations::IPortalHandler& handler,
                                                         const operations::ParamMap& params) {
    const std::string eik = operations::paramOr(params, "eik", "");
    if (eik.empty()) {
        impl_->lastError = "Липсва задължителен параметър eik";
        return std::nullopt;
    }
    return prepareFor(handler, eik, yearFromText(operations::paramOr(params, "year", "0")));
}

bool NapSession::selectTaxpayer(const std::string& eik) {
    const Taxpayer* taxpayer = findTaxpayerByEik(eik);
    if (taxpayer == nullptr) {
        return false;
    }
    info("NapSession::selectTaxpayer: избор на ЗЛ " + eik);
    if (!httpSelectTaxpayer(taxpayer->tin)) {
        impl_->lastError = "Неуспешен избор на ЗЛ " + eik;
        return false;
    }
    impl_->selectedEik = eik;
    // The portal needs a moment before the new context holds.
    impl_->sleep(milliseconds(1000));
    return true;
}

std::optional<SelectedTaxpayer> NapSession::httpSelectTaxpayer(std::int64_t tin) {
    const std::string base(AgencyEndpoints::kPortalBaseUrl);
    const http::HttpHeaders headers{
        {"Accept", "application/json, text/plain, */*"},
        {"Origin", base},
        {"Referer", base + "/"},
        {"X-Requested-With", "XMLHttpRequest"},
    };
    const std::string body = dumpCompact(json{{"tin", tin}});
    const http::HttpResponse response =
        httpClient().post(portalUrl("/api/common/taxpayer/select"), body, "application/json", headers);
    const std::string statusLine = "NapSession::httpSelectTaxpayer: HTTP " + std::to_string(response.status);
    info(statusLine);
    if (!isSuccess(response.status)) {
        warn(statusLine);
        return std::nullopt;
    }
    SelectedTaxpayer selected;
    try {
        const json reply = parseExternalJson(response.body);
        selected.tin = jsonInt64(reply, "tin");
        selected.pin = jsonText(reply, "pin");
        selected.tpId = jsonText(reply, "tpId");
    } catch (const std::exception& e) {
        warn(std::string("NapSession::httpSelectTaxpayer parse: ") + e.what());
        return std::nullopt;
    }
    impl_->selectedTaxpayer = selected;
    info("NapSession::httpSelectTaxpayer: session cookies installed");
    http::HttpClient& client = httpClient();
    addPortalCookie(client, "selectedContext", base64Encode(std::to_string(selected.tin)));
    addPortalCookie(client, "tpId", base64Encode(std::string_view("true")));
    refreshCsrfToken();
    return selected;
}

std::optional<ServiceLink> NapSession::selectService(const operations::IPortalHandler& handler,
                                                     std::int32_t year) {
    const std::string serviceName = handler.serviceName();
    const Service* service = nullptr;
    for (const Category& category : categories()) {
        for (const Service& candidate : category.services) {
            if (candidate.name == serviceName) {
                service = &candidate;
                break;
            }
        }
        if (service != nullptr) {
            break;
        }
    }
    if (service == nullptr) {
        impl_->lastError = "Услуга '" + serviceName + "' не е намерена в каталога";
        return std::nullopt;
    }
    std::optional<ServiceLink> link =
        year >= 1 ? handler.pickSubmitLink(*service, year) : handler.pickReportLink(*service);
    if (!link) {
        impl_->lastError = "Не е намерен линк за '" + serviceName + "'";
        if (year >= 1) {
            impl_->lastError += " за година " + std::to_string(year);
        }
        return std::nullopt;
    }

    const std::string eik = impl_->selectedEik;
    httpSelectService(link->id);
    if (impl_->lastRelogin == Impl::Relogin::Failed) {
        // lastError holds the login's own words.
        return std::nullopt;
    }
    if (impl_->lastRelogin == Impl::Relogin::Succeeded && !eik.empty()) {
        // The re-login wiped the taxpayer context: without it the link would
        // open the certificate holder's own pages. Restore it once.
        if (!selectTaxpayer(eik)) {
            return std::nullopt;
        }
        httpSelectService(link->id);
        if (impl_->lastRelogin == Impl::Relogin::Failed) {
            return std::nullopt;
        }
        if (impl_->lastRelogin == Impl::Relogin::Succeeded) {
            impl_->lastError = "Неуспешен избор на ЗЛ " + eik;
            return std::nullopt;
        }
    }
    markSessionActiveInUi(serviceName);
    info("NapSession::selectService: услуга " + link->title + " (id=" + link->id + ")");
    return link;
}

void NapSession::httpSelectService(const std::string& linkId) {
    const std::string url = portalUrl("/api/common/service-links/select/" + linkId);
    const http::HttpResponse response = withAuthRetry("httpSelectService", [&] {
        impl_->selectedServiceId = linkId;
        return httpClient().getFresh(url, PortalJsonHeaders);
    });
    info("NapSession::httpSelectService: HTTP " + std::to_string(response.status) +
         " (body=" + std::to_string(response.body.size()) + "B): " + loggableText(response.body, 500));
    info("NapSession::httpSelectService: selectedServiceId cookie installed");
    addPortalCookie(httpClient(), "selectedServiceId", base64Encode(linkId));
}

http::HttpResponse NapSession::withAuthRetry(const std::string& operationName,
                                             const std::function<http::HttpResponse()>& request) {
    impl_->lastRelogin = Impl::Relogin::None;
    http::HttpResponse response = request();
    if (!isAuthRefusal(response.status) || impl_->inRetry) {
        return response;
    }
    const std::string prefix = "NapSession::" + operationName;
    impl_->inRetry = true;
    // The refusal may have set the cookies the next attempt needs.
    info(prefix + ": HTTP " + std::to_string(response.status) +
         " — retrying with cookies the response installed");
    impl_->sleep(milliseconds(1000));
    response = request();
    if (isAuthRefusal(response.status)) {
        warn(prefix + ": still HTTP " + std::to_string(response.status) +
             " after plain retry — re-authenticating");
        clearSession();
        if (login()) {
            impl_->lastRelogin = Impl::Relogin::Succeeded;
            impl_->sleep(milliseconds(2000));
            response = request();
            if (isAuthRefusal(response.status)) {
                info(prefix + ": post-login HTTP " + std::to_string(response.status) +
                     " — WAF bootstrap retry");
                impl_->sleep(milliseconds(1000));
                response = request();
            }
        } else {
            impl_->lastRelogin = Impl::Relogin::Failed;
            logLine(LogLevel::Error, escapeControlBytes(prefix + ": re-login failed: " + impl_->lastError));
        }
    }
    impl_->inRetry = false;
    return response;
}

void NapSession::markSessionActiveInUi(const std::string& serviceName) {
    const std::string base(AgencyEndpoints::kPortalBaseUrl);
    http::HttpClient& client = httpClient();
    const http::HttpResponse entry = client.getFresh(
        base + "/auth/entrypoint?redirectUrl=" + base + "/home.html&lang=bg", PortalPageHeaders);
    info("NapSession::markSessionActiveInUi: fresh /auth/entrypoint HTTP " + std::to_string(entry.status) +
         " (effective=" + entry.effectiveUrl + ")");
    const std::string detailsUrl = base + "/details/" + serviceName;
    const http::HttpResponse details = client.get(detailsUrl, PortalPageHeaders);
    info("NapSession::markSessionActiveInUi: GET " + detailsUrl + " HTTP " + std::to_string(details.status));
    const http::HttpResponse home = client.get(base + "/home.html", PortalPageHeaders);
    info("NapSession::markSessionActiveInUi: GET /home.html HTTP " + std::to_string(home.status));
}

void NapSession::selectSystem(const ServiceLink& link) {
    impl_->systemId = systemIdOf(link);
    info("NapSession::selectSystem: systemId=" + std::to_string(impl_->systemId));
}

}  // namespace velk::core::infra::portal
