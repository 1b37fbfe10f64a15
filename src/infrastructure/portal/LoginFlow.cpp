#include "infrastructure/portal/LoginFlow.h"

#include <exception>
#include <string_view>

#include "common/AgencyEndpoints.h"
#include "common/Logger.h"
#include "common/TextUtils.h"
#include "infrastructure/portal/PortalHeaders.h"
#include "infrastructure/signing/InvalidPinException.h"
#include "infrastructure/signing/SigningCancelledException.h"
#include "platform/SecureWipe.h"

namespace velk::core::infra::portal {

namespace {

std::string entryPointUrl() {
    const std::string base(AgencyEndpoints::kPortalBaseUrl);
    // The redirect target stands unescaped in the query, as the portal's own
    // pages send it.
    return base + "/auth/entrypoint?redirectUrl=" + base + "/home.html&lang=bg";
}

std::string qesLoginUrl() {
    return std::string(AgencyEndpoints::kLoginBaseUrl) + "/auth/login/qes";
}

std::string taxpayersUrl() {
    return std::string(AgencyEndpoints::kPortalBaseUrl) + "/api/base/taxpayers";
}

// The jar's Netscape lines with the value (the last field) masked: session
// cookies are credentials and the log is a file.
std::string maskedCookieList(const std::string& jar) {
    std::string out;
    std::string_view rest = jar;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        const std::size_t lastTab = line.rfind('\t');
        // The jar's tabs stay; the fields the servers named are escaped.
        const std::string_view kept = lastTab == std::string_view::npos ? line : line.substr(0, lastTab + 1);
        for (std::size_t from = 0;;) {
            const std::size_t tab = kept.find('\t', from);
            out.append(escapeControlBytes(kept.substr(from, tab - from)));
            if (tab == std::string_view::npos) {
                break;
            }
            out.push_back('\t');
            from = tab + 1;
        }
        if (lastTab != std::string_view::npos) {
            out.append("***");
        }
        out.push_back('\n');
        if (end == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(end + 1);
    }
    return out;
}

// The user's words for a failed transfer: a refused PIN or a cancelled PIN
// prompt of the certificate's key as the signer words them (libcurl's text
// only speaks of the local certificate), anything else as friendlyError does.
std::string failureText(const http::HttpResponse& response) {
    switch (response.keyPinRefusal) {
        case http::KeyPinRefusal::WrongPin:
            return signing::InvalidPinException().what();
        case http::KeyPinRefusal::Cancelled:
            return signing::SigningCancelledException().what();
        case http::KeyPinRefusal::None:
            break;
    }
    return LoginFlow::friendlyError(response.error);
}

}  // namespace

LoginFlow::LoginFlow(http::HttpClient* http, signing::ISigner* signer, std::string certificateId,
                     PinProvider pinProvider)
    : http_(http),
      signer_(signer),
      certificateId_(std::move(certificateId)),
      pinProvider_(std::move(pinProvider)) {}

bool LoginFlow::run() {
    error_.clear();
    logLine(LogLevel::Info, "LoginFlow: starting QES (КЕП) login sequence");
    warmUpPin();

    // The statuses of the entry point and of the certificate login say
    // nothing: only their redirects and cookies matter.
    const http::HttpResponse entry = http_->get(entryPointUrl(), {});
    if (!entry.error.empty()) {
        error_ = failureText(entry);
        logLine(LogLevel::Error, "LoginFlow: entrypoint: " + escapeControlBytes(entry.error));
        return false;
    }
    const http::HttpResponse qes = http_->get(qesLoginUrl(), {});
    if (!qes.error.empty()) {
        error_ = failureText(qes);
        logLine(LogLevel::Error, "LoginFlow: qes mTLS: " + escapeControlBytes(qes.error));
        return false;
    }
    const http::HttpResponse probe = http_->get(taxpayersUrl(), PortalJsonHeaders);
    if (probe.status != 200) {
        error_ = "validation returned HTTP " + std::to_string(probe.status);
        logLine(LogLevel::Error, "LoginFlow: " + error_);
        return false;
    }
    logLine(LogLevel::Info, "LoginFlow: cookies after OAuth:\n" + maskedCookieList(http_->cookieList()));
    logLine(LogLevel::Info, "LoginFlow: QES login succeeded");
    return true;
}

void LoginFlow::warmUpPin() {
    if (signer_ == nullptr || certificateId_.empty() || !pinProvider_) {
        return;
    }
    std::optional<std::string> pin = pinProvider_();
    if (!pin) {
        logLine(LogLevel::Info, "LoginFlow: no stored PIN; CSP dialog will prompt user");
        return;
    }
    const platform::ScopedWipe wipe(*pin);
    try {
        if (signer_->warmUp(certificateId_, *pin)) {
            logLine(LogLevel::Info, "LoginFlow: CSP PIN cache primed — handshake will be silent");
        } else {
            logLine(LogLevel::Warn, "LoginFlow: warmUp returned false (likely wrong PIN)");
        }
    } catch (const std::exception& e) {
        logLine(LogLevel::Warn, "LoginFlow: warmUp threw: " + escapeControlBytes(e.what()));
    }
}

bool LoginFlow::isSessionAlive(http::HttpClient& http) {
    return http.get(taxpayersUrl(), PortalJsonHeaders).status == 200;
}

std::string LoginFlow::friendlyError(const std::string& text) {
    const std::string lower = asciiLower(text);
    for (std::string_view words : {"local ssl certificate", "ssl certificate", "certprob"}) {
        if (lower.find(words) != std::string::npos) {
            return "Сертификатът за КЕП не е достъпен. Проверете че смарт картата е поставена в четеца и "
                   "драйверите са активни. (Оригинално: " +
                   text + ")";
        }
    }
    return text;
}

}  // namespace velk::core::infra::portal
