#include "agent/AgentRuntime.h"

#include "agent/FileSettings.h"
#include "agent/SettingsPath.h"
#include "common/Logger.h"
#include "engine/VelkEngine.h"
#include "infrastructure/signing/ISigner.h"
#include "infrastructure/signing/PinStore.h"
#include "infrastructure/signing/SignerFactory.h"
#include "infrastructure/signing/SigningSession.h"
#include "platform/SecureWipe.h"
#include "server/HttpServer.h"
#include "server/JobStore.h"
#include "ui/FilePicker.h"
#include "ui/SenderPicker.h"
#include "ui/UiConfirmer.h"

namespace velk::agent {

namespace {

using core::LogLevel;
using core::logLine;

}  // namespace

AgentRuntime::AgentRuntime(std::uint16_t apiPort) {
    // The URL-scheme registration (vezorodar:// links) comes first here once
    // the desktop integration is built.

    auto settings = std::make_unique<FileSettings>(settingsFilePath());
    settings_ = settings.get();
    engine_ = std::make_unique<core::VelkEngine>(std::move(settings));

    signer_ = signing::SignerFactory::create(signing::SignerKind::Auto, "");
    engine_->setSigner(signer_.get());
    // The Java bridge is handed to the engine here (setZezizUrBridge) once built.
    engine_->initialise();
    // A crash during a write may have left copies of pins.dat with PINs the
    // user has since removed.
    signing::PinStore::removeStaleCopies();
    restoreCachedPin();

    signingSession_ = std::make_unique<signing::SigningSession>(signer_.get());
    jobStore_ = std::make_unique<server::JobStore>();
    signingSession_->setPinListener(
        [engine = engine_.get()](const std::string& certificateId, const std::string& pin) {
            engine->setPin(certificateId, pin);
        });

    filePicker_ = std::make_unique<ui::FilePicker>();
    confirmer_ = std::make_unique<ui::UiConfirmer>();
    senderPicker_ = std::make_unique<ui::SenderPicker>();

    server_ = std::make_unique<server::HttpServer>(engine_.get(), /*bridge=*/nullptr, signingSession_.get(),
                                                   jobStore_.get(), filePicker_.get(), confirmer_.get(),
                                                   senderPicker_.get(), apiPort);
    // The main window is made here, hidden, and the server's request for the
    // settings (setOnNeedsSettings) shows it through a queued call.
    // A port already taken is logged by the server; the agent runs on without
    // its local API.
    server_->start();

    // The tray icon, the update check, the update installer and the
    // uninstaller are made and connected here.
}

AgentRuntime::~AgentRuntime() {
    shutDown();
}

void AgentRuntime::showAtLaunch(const std::vector<std::string>& args) {
    switch (chooseLaunchMode(args, !settings_->listSenders().empty())) {
        case LaunchMode::ShowWindow:
            // The main window is shown here (no raise, no activation).
            break;
        case LaunchMode::SilentViaProtocol:
            logLine(LogLevel::Info, "VezoRodarC: started silently via velkagent:// protocol");
            break;
        case LaunchMode::SilentTrayOnly:
            logLine(LogLevel::Info, "VezoRodarC: started silently (tray only)");
            break;
        case LaunchMode::FirstRun:
            logLine(LogLevel::Info, "VezoRodarC: first-run — no senders configured, showing setup window");
            // The main window is shown, raised and activated here.
            break;
    }
}

void AgentRuntime::shutDown() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    // The tray icon is hidden here first.
    server_->stop();
    engine_->shutdown();
    logLine(LogLevel::Info, "VezoRodarC exiting");
}

// The active sender's remembered PIN, so a smart card does not ask again
// after a restart. A missing link in the chain skips it silently.
void AgentRuntime::restoreCachedPin() {
    const auto id = settings_->activeSenderId();
    if (!id) {
        return;
    }
    const auto sender = settings_->getSender(*id);
    if (!sender || sender->certificateId.empty()) {
        return;
    }
    auto pin = signing::PinStore::get(sender->certificateId);
    if (!pin) {
        return;
    }
    const platform::ScopedWipe wipe(*pin);
    engine_->setPin(sender->certificateId, *pin);
    logLine(LogLevel::Info, "Restored cached PIN for active sender");
}

}  // namespace velk::agent
