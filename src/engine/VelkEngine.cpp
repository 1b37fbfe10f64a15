#include "engine/VelkEngine.h"

#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "common/CodeTables.h"
#include "common/JsonUtils.h"
#include "common/Logger.h"
#include "common/TextUtils.h"
#include "infrastructure/portal/NapSession.h"
#include "operations/IInquiry.h"
#include "operations/ISubmission.h"
#include "operations/OperationRegistry.h"
#include "operations/ResultProjection.h"
#include "platform/SecureWipe.h"

namespace velk::core {

namespace {

using operations::ExecuteResult;
using operations::IInquiry;
using operations::ISubmission;
using operations::IVelkOperation;
using operations::OperationKind;
using operations::ParamMap;

// Strings as they are, numbers as "%f" in the C locale, booleans as
// "true"/"false"; null, arrays and objects are dropped, and anything but an
// object gives no parameters. Throws the JSON library's exceptions.
ParamMap flattenParams(const std::string& paramsJson) {
    const json value = parseExternalJson(paramsJson.empty() ? std::string_view("{}") : paramsJson);
    ParamMap params;
    if (!value.is_object()) {
        return params;
    }
    for (const auto& [name, member] : value.items()) {
        if (member.is_string()) {
            params[name] = member.get<std::string>();
        } else if (member.is_number()) {
            params[name] = formatFixed(member.get<double>(), 6);
        } else if (member.is_boolean()) {
            params[name] = member.get<bool>() ? "true" : "false";
        }
    }
    return params;
}

std::string exceptionText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown exception";
    }
}

void report(const operations::ProgressCallback& progress, std::int32_t percent, const std::string& stage) {
    if (progress) {
        progress(percent, stage);
    }
}

// Runs the fixture or the real work of one operation and projects the result.
// `success` is set as soon as it is known, so a later failure keeps it.
template <typename InquiryWork, typename SubmissionWork>
void runAndProject(const IVelkOperation& op, ExecuteResult& result, InquiryWork inquiryWork,
                   SubmissionWork submissionWork) {
    const operations::ResultSchema schema = op.resultSchema();
    if (const auto* inquiry = dynamic_cast<const IInquiry*>(&op)) {
        const operations::InquiryResult inquiryResult = inquiryWork(*inquiry);
        result.success = true;
        result.json = dumpCompact(operations::projectInquiryResult(schema, inquiryResult));
        return;
    }
    const auto& submission = dynamic_cast<const ISubmission&>(op);
    const operations::SubmissionResult submissionResult = submissionWork(submission);
    result.success = submissionResult.success;
    result.error = submissionResult.errorMessage;
    result.json = dumpCompact(operations::projectSubmissionResult(schema, submissionResult));
}

// The registry's kind and interface always agree (IInquiry and ISubmission fix
// kind()); an operation implementing neither cannot be run.
bool isRunnable(const IVelkOperation& op) {
    return dynamic_cast<const IInquiry*>(&op) != nullptr || dynamic_cast<const ISubmission*>(&op) != nullptr;
}

// The operation and its flattened parameters, or the error that stops the run
// before it starts: an unknown typeId, or parameters that are not JSON.
struct PreparedRun {
    std::unique_ptr<IVelkOperation> op;
    ParamMap params;
};

std::optional<PreparedRun> prepareRun(const std::string& typeId, const std::string& paramsJson,
                                      ExecuteResult& result) {
    PreparedRun run{operations::OperationRegistry::instance().create(typeId), {}};
    if (!run.op || !isRunnable(*run.op)) {
        result.error = "Unknown operation: " + typeId;
        return std::nullopt;
    }
    try {
        run.params = flattenParams(paramsJson);
    } catch (const std::exception& e) {
        result.error = std::string("Invalid params JSON: ") + e.what();
        return std::nullopt;
    }
    return run;
}

operations::OperationSummary summaryOf(const operations::OperationDescriptor& descriptor) {
    return {descriptor.typeId, descriptor.displayName, descriptor.category,
            descriptor.kind == static_cast<std::int32_t>(OperationKind::Submission),
            descriptor.requiresSubmissionToken};
}

}  // namespace

struct VelkEngine::Impl {
    // Declared first so it is destroyed last, after the session.
    std::unique_ptr<ISettingsProvider> settings;

    // Held by a real run from its sender switch to the end of its projection,
    // and by initialise and shutdown; guards session and initialised.
    std::mutex runMutex;
    std::unique_ptr<infra::portal::NapSession> session;
    SessionSleeper sessionSleeper;
    bool initialised = false;
    bool listening = false;

    // What other threads hand to the session, kept until the next run applies
    // it. Never held while waiting for anything else.
    std::mutex pendingMutex;
    signing::ISigner* signer = nullptr;
    infra::java::ZezizUrBridge* bridge = nullptr;
    bool reconfigurePending = false;
    bool signerPending = false;
    bool bridgePending = false;
    // The certificate id and the PIN typed for it.
    std::optional<std::pair<std::string, std::string>> pendingPin;

    Impl(std::unique_ptr<ISettingsProvider> provider, SessionSleeper sleeper)
        : settings(std::move(provider)), sessionSleeper(std::move(sleeper)) {}
    ~Impl() { dropPendingPin(); }

    // Under pendingMutex (or with no other user left): a PIN nobody will use.
    void dropPendingPin() {
        if (pendingPin) {
            platform::secureWipe(pendingPin->second);
            pendingPin.reset();
        }
    }

    infra::portal::SessionIdentity sessionIdentityFromSettings() const {
        infra::portal::SessionIdentity identity;
        identity.identifier = settings->activeIdentifier().value_or("");
        identity.identifierType = parseIdentifierType(settings->activeIdentifierType().value_or(""));
        identity.certificateId = settings->activeCertificateId().value_or("");
        identity.apiKey = settings->activeApiKey().value_or("");
        return identity;
    }

    // The settings' change listener, on the thread that made the change.
    void onSettingsChanged() {
        std::lock_guard lock(pendingMutex);
        reconfigurePending = true;
    }

    // Under runMutex, with a session: hands the session what arrived since the
    // last run.
    void applyPending() {
        bool reconfigure = false;
        std::optional<std::pair<std::string, std::string>> pin;
        std::optional<signing::ISigner*> newSigner;
        std::optional<infra::java::ZezizUrBridge*> newBridge;
        {
            std::lock_guard lock(pendingMutex);
            reconfigure = std::exchange(reconfigurePending, false);
            pin = std::exchange(pendingPin, std::nullopt);
            if (std::exchange(signerPending, false)) {
                newSigner = signer;
            }
            if (std::exchange(bridgePending, false)) {
                newBridge = bridge;
            }
        }
        if (reconfigure) {
            session->reset();
            session->configure(sessionIdentityFromSettings());
        }
        if (pin) {
            session->setPin(pin->first, pin->second);
            platform::secureWipe(pin->second);
        }
        if (newSigner) {
            session->setSigner(*newSigner);
        }
        if (newBridge) {
            session->setZezizUrBridge(*newBridge);
        }
    }

    // Makes senderId the active sender; empty text on success, else the error.
    std::string switchSender(const std::string& senderId) {
        if (senderId.empty()) {
            return {};
        }
        if (settings->activeSenderId() != senderId) {
            if (!settings->getSender(senderId)) {
                return "Unknown senderId: " + senderId;
            }
            settings->setActiveSender(senderId);
            applyPending();
        }
        // The sender may have been removed, or another chosen, in between.
        if (settings->activeSenderId() != senderId) {
            return "Unknown senderId: " + senderId;
        }
        return {};
    }
};

VelkEngine::VelkEngine(std::unique_ptr<ISettingsProvider> settings, SessionSleeper sessionSleeper)
    : impl_(std::make_unique<Impl>(std::move(settings), std::move(sessionSleeper))) {}

VelkEngine::~VelkEngine() {
    impl_->session.reset();
}

void VelkEngine::setSigner(signing::ISigner* signer) {
    std::lock_guard lock(impl_->pendingMutex);
    impl_->signer = signer;
    impl_->signerPending = true;
}

void VelkEngine::setZezizUrBridge(infra::java::ZezizUrBridge* bridge) {
    std::lock_guard lock(impl_->pendingMutex);
    impl_->bridge = bridge;
    impl_->bridgePending = true;
}

void VelkEngine::initialise() {
    std::lock_guard runLock(impl_->runMutex);
    if (impl_->initialised) {
        return;
    }
    impl_->session = std::make_unique<infra::portal::NapSession>(impl_->sessionSleeper);
    impl_->session->configure(impl_->sessionIdentityFromSettings());
    {
        std::lock_guard lock(impl_->pendingMutex);
        // A new session gets the current signer and bridge; a PIN given
        // before there was a session is not kept.
        impl_->session->setSigner(impl_->signer);
        impl_->session->setZezizUrBridge(impl_->bridge);
        impl_->signerPending = impl_->bridgePending = impl_->reconfigurePending = false;
        impl_->dropPendingPin();
    }
    if (!impl_->listening) {
        // Listeners are kept for the store's lifetime, which is the engine's.
        impl_->settings->addChangeListener([impl = impl_.get()] { impl->onSettingsChanged(); });
        impl_->listening = true;
    }
    impl_->initialised = true;
    logLine(LogLevel::Info, "VelkEngine: initialised");
}

void VelkEngine::setPin(const std::string& certificateId, const std::string& pin) {
    std::lock_guard lock(impl_->pendingMutex);
    // Without a session there is nothing to hand it to (initialise resets
    // this, so a PIN given before it is lost).
    impl_->dropPendingPin();
    impl_->pendingPin.emplace(certificateId, pin);
}

ISettingsProvider& VelkEngine::settings() {
    return *impl_->settings;
}

std::vector<operations::OperationSummary> VelkEngine::listOperations() const {
    std::vector<operations::OperationSummary> summaries;
    for (const auto& descriptor : operations::OperationRegistry::instance().list()) {
        summaries.push_back(summaryOf(descriptor));
    }
    return summaries;
}

std::optional<operations::OperationSummary> VelkEngine::findOperation(const std::string& typeId) const {
    const operations::OperationDescriptor* descriptor =
        operations::OperationRegistry::instance().find(typeId);
    if (descriptor == nullptr) {
        return std::nullopt;
    }
    return summaryOf(*descriptor);
}

ExecuteResult VelkEngine::execute(const std::string& typeId, const std::string& paramsJson,
                                  const std::optional<std::string>& filePath,
                                  const operations::ProgressCallback& progress, const std::string& senderId) {
    ExecuteResult result;
    std::lock_guard runLock(impl_->runMutex);
    if (!impl_->initialised) {
        result.error = "VelkEngine not initialised";
        return result;
    }
    impl_->applyPending();
    if (std::string error = impl_->switchSender(senderId); !error.empty()) {
        result.error = std::move(error);
        return result;
    }

    std::optional<PreparedRun> prepared = prepareRun(typeId, paramsJson, result);
    if (!prepared) {
        return result;
    }
    const std::unique_ptr<IVelkOperation>& op = prepared->op;
    const ParamMap& params = prepared->params;

    report(progress, 0, "starting");
    infra::portal::NapSession* session = impl_->session.get();
    try {
        if (const auto* submission = dynamic_cast<const ISubmission*>(op.get());
            submission && submission->requiresFilePath() && !filePath) {
            result.error = "Submission requires a file path";
            return result;
        }
        runAndProject(
            *op, result, [&](const IInquiry& inquiry) { return inquiry.run(session, params); },
            [&](const ISubmission& submission) {
                return submission.submit(session, filePath.value_or(""), params);
            });
    } catch (...) {
        result.error = "Operation threw: " + exceptionText(std::current_exception());
        result.json.clear();
        logLine(LogLevel::Error, "VelkEngine: " + escapeControlBytes(result.error));
    }
    report(progress, 100, result.success ? "done" : "failed");
    return result;
}

ExecuteResult VelkEngine::executeTest(const std::string& typeId, const std::string& paramsJson) const {
    ExecuteResult result;
    std::optional<PreparedRun> prepared = prepareRun(typeId, paramsJson, result);
    if (!prepared) {
        return result;
    }
    const std::unique_ptr<IVelkOperation>& op = prepared->op;
    const ParamMap& params = prepared->params;
    try {
        runAndProject(
            *op, result, [&](const IInquiry& inquiry) { return inquiry.testFixture(params); },
            [&](const ISubmission& submission) { return submission.testFixture(params); });
    } catch (...) {
        result.error = "testFixture threw: " + exceptionText(std::current_exception());
        result.json.clear();
        logLine(LogLevel::Error, "VelkEngine: " + escapeControlBytes(result.error));
    }
    return result;
}

void VelkEngine::shutdown() {
    std::lock_guard runLock(impl_->runMutex);
    if (!impl_->initialised) {
        return;
    }
    impl_->session->reset();
    impl_->session.reset();
    impl_->initialised = false;
    logLine(LogLevel::Info, "VelkEngine: shut down");
}

}  // namespace velk::core
