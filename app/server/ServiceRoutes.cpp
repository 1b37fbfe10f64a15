#include "server/ServiceRoutes.h"

#include <string>
#include <utility>
#include <vector>

#include "common/AgentVersion.h"
#include "common/JsonUtils.h"
#include "engine/VelkEngine.h"
#include "infrastructure/java/ZezizUrBridge.h"
#include "server/ApiAnswers.h"
#include "server/RouteContext.h"

namespace velk::server {

namespace {

using core::json;

// The bridge's own text for a validation that cannot run.
constexpr const char* kJavaUnavailable = "Java или ZezizUR библиотеките не са налични.";

}  // namespace

ServiceRoutes::ServiceRoutes(RouteContext& context, core::infra::java::ZezizUrBridge* bridge,
                             std::function<void()> stopServer)
    : context_(context), bridge_(bridge), stopServer_(std::move(stopServer)) {}

void ServiceRoutes::handleHealth(const httplib::Request& /*req*/, httplib::Response& res) const {
    sendJson(
        res, 200,
        json{{"status", "ok"}, {"version", core::versionString()}, {"uptimeSec", context_.uptimeSeconds()}});
}

void ServiceRoutes::handleInfo(const httplib::Request& /*req*/, httplib::Response& res) const {
    // Fixed texts whatever the platform and signer: the web application may
    // rely on them.
    sendJson(
        res, 200,
        json{
            {"os", "windows"}, {"signerBackend", "windows-native"}, {"agentVersion", core::versionString()}});
}

void ServiceRoutes::handleShutdown(const httplib::Request& /*req*/, httplib::Response& res) const {
    // A fixed text without a charset, unlike every other answer.
    res.status = 202;
    res.set_content(R"({"status":"stopping"})", "application/json");
    // The server finishes this answer before its listener is joined.
    stopServer_();
}

void ServiceRoutes::handlePickFolder(const httplib::Request& req, httplib::Response& res) const {
    const json body = parseJsonBody(req);
    const std::string startDir = textField(body, "startDir");
    sendJson(res, 200, json{{"path", context_.pickPathOnUiThread(true, startDir, "")}});
}

void ServiceRoutes::handlePickFile(const httplib::Request& req, httplib::Response& res) const {
    const json body = parseJsonBody(req);
    const std::string filter = textField(body, "filter");
    const std::string startDir = textField(body, "startDir");
    sendJson(res, 200, json{{"path", context_.pickPathOnUiThread(false, startDir, filter)}});
}

void ServiceRoutes::handleListSenders(const httplib::Request& /*req*/, httplib::Response& res) const {
    core::ISettingsProvider& settings = context_.engine().settings();
    const std::string activeId = settings.activeSenderId().value_or("");
    json senders = json::array();
    // Only what the page shows: never the identifier, certificate, API key
    // or e-mail.
    for (const core::SenderProfile& sender : settings.listSenders()) {
        senders.push_back(
            json{{"id", sender.id}, {"displayName", sender.displayName}, {"active", sender.id == activeId}});
    }
    sendJson(res, 200, json{{"senders", std::move(senders)}, {"activeSenderId", activeId}});
}

void ServiceRoutes::handleValidate(const httplib::Request& req, httplib::Response& res) const {
    const std::string declarationDir = textField(parseJsonBody(req), "declarationDir");
    if (declarationDir.empty()) {
        sendError(res, 400, "declarationDir required");
        return;
    }
    // Without a bridge the validation cannot run, as when Java is missing.
    // Another Java run in progress is answered at once rather than waited
    // for on this worker.
    const std::vector<std::string> errors =
        bridge_ != nullptr
            ? bridge_->validate(declarationDir, {}, core::infra::java::ZezizUrBridge::WhenBusy::Refuse)
            : std::vector<std::string>{kJavaUnavailable};
    sendJson(res, 200, json{{"ok", errors.empty()}, {"errors", errors}});
}

}  // namespace velk::server
