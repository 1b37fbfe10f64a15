#pragma once

#include <functional>
#include <optional>
#include <string>

#include "infrastructure/http/HttpClient.h"
#include "infrastructure/signing/ISigner.h"

namespace velk::core::infra::portal {

// One certificate (QES) login to the agency's portal: the entry point, the
// client-certificate login at the login host, and a probe that the session
// cookies now in the client's jar are accepted. Runs on the caller's thread
// and uses the client exclusively meanwhile.
class LoginFlow {
public:
    using PinProvider = std::function<std::optional<std::string>()>;

    // http must present certificateId as its TLS client certificate
    // (HttpClient::forPortal). signer and pinProvider may be empty; they only
    // prime the key's PIN cache before the handshake.
    LoginFlow(http::HttpClient* http, signing::ISigner* signer, std::string certificateId,
              PinProvider pinProvider);

    // True when the portal accepted the login; otherwise error() says why, in
    // words for the user.
    bool run();
    void warmUpPin();
    const std::string& error() const { return error_; }

    // The portal's taxpayers endpoint answers 200 with the client's cookies.
    static bool isSessionAlive(http::HttpClient& http);
    // A client-certificate failure becomes a hint about the smart card that
    // keeps libcurl's text; anything else is returned unchanged.
    static std::string friendlyError(const std::string& text);

private:
    http::HttpClient* http_;
    signing::ISigner* signer_;
    std::string certificateId_;
    PinProvider pinProvider_;
    std::string error_;
};

}  // namespace velk::core::infra::portal
