#include "server/OperationRunRoute.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "common/JsonUtils.h"
#include "common/Logger.h"
#include "common/TextUtils.h"
#include "engine/VelkEngine.h"
#include "server/ApiAnswers.h"
#include "server/RouteContext.h"
#include "server/SubmissionTokenCheck.h"

namespace velk::server {

namespace {

using core::json;

constexpr const char* kNoSender =
    "Няма конфигуриран подател. Отвори ВЕЛК агента, добави подател и избери сертификат.";
constexpr const char* kAddSender = "Моля, добавете подател в настройките и опитайте отново.";
constexpr const char* kSenderChoiceCancelled = "Изборът на подател беше отказан.";
constexpr const char* kRunDeclined = "Операцията е отказана от потребителя.";
constexpr const char* kDialogBusy =
    "Друга операция очаква потвърждение в агента. Отговорете на нея и опитайте отново.";

// What one run request carries.
struct RunRequest {
    std::string typeId;
    std::string senderId;
    std::optional<std::string> filePath;
    std::string body;
    std::string authorization;
    std::string origin;
    std::string operationName;
};

// What the user answered in the sender picker: a refusal to send, or the
// sender to run for.
struct PickOutcome {
    std::optional<std::string> refusal;
    std::string senderId;
    bool remember = false;
};

RunRequest readRequest(const httplib::Request& req) {
    RunRequest run;
    run.typeId = req.matches[1];
    run.senderId = req.get_header_value("X-Velk-Sender-Id");
    if (std::string path = req.get_header_value("X-Velk-File-Path"); !path.empty()) {
        run.filePath = std::move(path);
    }
    run.body = req.body.empty() ? std::string("{}") : req.body;
    run.authorization = req.get_header_value("Authorization");
    // Origin whenever it is sent, even empty; Referer only without it.
    run.origin = req.has_header("Origin") ? req.get_header_value("Origin") : req.get_header_value("Referer");
    return run;
}

// Shows the picker within the run's turn at the screen, taking the turn
// first when the run holds none yet. cancelledText is the refusal when the
// user cancels (or lets the dialog run out of time); the requester then
// waits a while before it gets another dialog.
PickOutcome pickSender(RouteContext& context, DialogGate::Turn& turn,
                       const std::vector<core::SenderProfile>& senders, const std::string& preselectedId,
                       const RunRequest& run, const char* cancelledText) {
    if (!turn) {
        turn = context.enterDialog(run.origin);
        if (!turn) {
            // Never queued behind the open dialog: a page could park every
            // worker of the server there. A requester held back after a
            // decline hears the same.
            return {kDialogBusy, "", false};
        }
    }
    const SenderPickResult choice = context.pickSenderOnUiThread(
        turn, senders, preselectedId, run.origin, run.operationName, run.filePath.value_or(""));
    if (choice.createNew) {
        context.notifyNeedsSettings();
        return {kAddSender, "", false};
    }
    if (choice.id.empty()) {
        // Noted while the run still holds its turn, so its next request
        // cannot take the screen first.
        context.holdBack(run.origin);
        return {cancelledText, "", false};
    }
    return {std::nullopt, choice.id, choice.remember};
}

// A run the user declined in a dialog is an answer, not an error.
void sendRefusal(httplib::Response& res, const std::string& message) {
    sendJson(res, 200, json{{"success", false}, {"errorMessage", message}});
}

void sendResult(httplib::Response& res, const core::operations::ExecuteResult& result) {
    if (!result.success) {
        sendError(res, result.error.find("not initial") != std::string::npos ? 503 : 502, result.error);
        return;
    }
    // The engine's text comes from dumpCompact, so reading it back and
    // writing it again would give the same bytes. Only a run whose projection
    // threw leaves it empty.
    if (!result.json.empty()) {
        sendCompactJson(res, 200, result.json);
        return;
    }
    try {
        sendJson(res, 200, json::parse(result.json));
    } catch (const json::exception& e) {
        sendError(res, 500, std::string("Internal: typed projection produced invalid JSON — ") + e.what());
    }
}

}  // namespace

void OperationRunRoute::handle(const httplib::Request& req, httplib::Response& res) const {
    RunRequest run = readRequest(req);
    core::VelkEngine& engine = context_.engine();
    core::ISettingsProvider& settings = engine.settings();
    const auto summary = engine.findOperation(run.typeId);
    run.operationName = summary ? summary->displayName : run.typeId;

    // Who the run is for, as far as it is known without asking.
    std::vector<core::SenderProfile> senders;
    if (run.senderId.empty()) {
        senders = settings.listSenders();
        if (senders.empty()) {
            context_.notifyNeedsSettings();
            sendError(res, 400, kNoSender);
            return;
        }
    } else if (!settings.getSender(run.senderId)) {
        sendError(res, 400, "Unknown senderId: " + run.senderId);
        return;
    }

    bool testRun = false;
    std::optional<TokenVerdict> token;
    if (settings.cloudEnabled() && summary && summary->requiresSubmissionToken) {
        TokenVerdict verdict = SubmissionTokenCheck::verify(
            run.authorization,
            {settings.cloudPublicKey(), settings.cloudIssuer(), run.typeId, run.body, context_.nowSeconds()});
        if (!verdict.passed) {
            sendJson(res, verdict.status, verdict.answer);
            return;
        }
        testRun = verdict.testRun;
        token = std::move(verdict);
    } else if (SubmissionTokenCheck::unverifiedTestRun(run.authorization)) {
        testRun = true;
        core::logLine(core::LogLevel::Info, "/api/v1/operations: test mode (unverified path) for typeId=" +
                                                core::escapeControlBytes(run.typeId));
    }

    // The sender choice; "remember" waits until the token is used up. Both
    // dialogs of the run share one turn at the screen.
    std::optional<std::string> rememberId;
    DialogGate::Turn dialogTurn;
    if (run.senderId.empty()) {
        if (senders.size() == 1) {
            run.senderId = senders.front().id;
        } else if (context_.senderPicker() != nullptr) {
            PickOutcome choice =
                pickSender(context_, dialogTurn, senders, settings.activeSenderId().value_or(""), run,
                           kSenderChoiceCancelled);
            if (choice.refusal) {
                sendRefusal(res, *choice.refusal);
                return;
            }
            run.senderId = choice.senderId;
            if (choice.remember) {
                rememberId = choice.senderId;
            }
        } else {
            run.senderId = settings.activeSenderId().value_or("");
        }
        if (!run.senderId.empty() && !settings.getSender(run.senderId)) {
            sendError(res, 400, "Unknown senderId: " + run.senderId);
            return;
        }
    }

    if (token) {
        // A submission's token stays used until it expires, so it cannot file
        // twice; an inquiry's for the guard's own time.
        const bool fresh = summary->isSubmission
                               ? context_.replayCache().markUsed(
                                     token->jti, std::chrono::seconds(token->exp - context_.nowSeconds()))
                               : context_.replayCache().markUsed(token->jti);
        if (!fresh) {
            sendError(res, 401, "Submission token already used (replay)");
            return;
        }
        if (testRun) {
            core::logLine(core::LogLevel::Info,
                          "/api/v1/operations: test mode for typeId=" + core::escapeControlBytes(run.typeId));
        }
    }
    if (rememberId) {
        settings.setActiveSender(*rememberId);
    }

    // The user confirms every real run; the picker offers only existing senders.
    if (!testRun && context_.senderPicker() != nullptr) {
        if (const auto current = settings.listSenders(); !current.empty()) {
            PickOutcome confirmation =
                pickSender(context_, dialogTurn, current, run.senderId, run, kRunDeclined);
            if (confirmation.refusal) {
                sendRefusal(res, *confirmation.refusal);
                return;
            }
            run.senderId = confirmation.senderId;
            if (confirmation.remember) {
                settings.setActiveSender(confirmation.senderId);
            }
        }
    }

    dialogTurn.reset();  // the run itself may take long

    sendResult(res, testRun ? engine.executeTest(run.typeId, run.body)
                            : engine.execute(run.typeId, run.body, run.filePath, {}, run.senderId));
}

}  // namespace velk::server
