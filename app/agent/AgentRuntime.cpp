#include "agent/AgentRuntime.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QString>
#include <QUrl>

#include <string>

#include "agent/FileSettings.h"
#include "agent/InstanceMessageListener.h"
#include "agent/SettingsPath.h"
#include "agent/Uninstaller.h"
#include "agent/UpdateChecker.h"
#include "agent/UpdateConnections.h"
#include "agent/UpdateInstaller.h"
#include "common/AgencyEndpoints.h"
#include "common/Logger.h"
#include "engine/VelkEngine.h"
#include "infrastructure/java/JavaProbes.h"
#include "infrastructure/java/ZezizUrBridge.h"
#include "infrastructure/signing/ISigner.h"
#include "infrastructure/signing/PinStore.h"
#include "infrastructure/signing/SignerFactory.h"
#include "infrastructure/signing/SigningSession.h"
#include "platform/AppPaths.h"
#include "platform/ProtocolHandler.h"
#include "platform/ProviderPinCache.h"
#include "platform/SecureWipe.h"
#include "platform/SingleInstance.h"
#include "server/HttpServer.h"
#include "server/JobStore.h"
#include "ui/FilePicker.h"
#include "ui/GuiLoop.h"
#include "ui/GuiPinPrompt.h"
#include "ui/LazyMainWindow.h"
#include "ui/MainWindow.h"
#include "ui/SenderPicker.h"
#include "ui/TrayIcon.h"
#include "ui/UiConfirmer.h"

namespace velk::agent {

namespace {

using core::LogLevel;
using core::logLine;

// The maker's page that shows what a web application can ask of the agent.
QUrl integrationDemoUrl() {
    return QUrl(QStringLiteral("https://") +
                    QString::fromUtf8(core::AgencyEndpoints::kMakerWebDomain.data(),
                                      static_cast<int>(core::AgencyEndpoints::kMakerWebDomain.size())) +
                    QStringLiteral("/integration/demo"),
                QUrl::TolerantMode);
}

}  // namespace

AgentRuntime::AgentRuntime(std::uint16_t apiPort, platform::SingleInstance* instance) {
    // vezorodar:// links start this program. A failure is logged by the
    // handler and changes nothing else; the next start tries again.
    const std::string executable = platform::joinPath(platform::executableDir(), "VezoRodarC");
    if (!platform::ProtocolHandler::isRegistered() ||
        platform::ProtocolHandler::hasOutdatedEntryFor(executable)) {
        platform::ProtocolHandler::registerHandler(executable);
    }

    auto settings = std::make_unique<FileSettings>(settingsFilePath());
    settings_ = settings.get();
    engine_ = std::make_unique<core::VelkEngine>(std::move(settings));

    signer_ = signing::SignerFactory::create(signing::SignerKind::Auto, "");
    zezizUrBridge_ = std::make_unique<core::infra::java::ZezizUrBridge>();
    engine_->setSigner(signer_.get());
    engine_->setZezizUrBridge(zezizUrBridge_.get());
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

    server_ = std::make_unique<server::HttpServer>(engine_.get(), zezizUrBridge_.get(), signingSession_.get(),
                                                   jobStore_.get(), filePicker_.get(), confirmer_.get(),
                                                   senderPicker_.get(), apiPort);
    // Made when first shown: an agent started at login with its senders set
    // up may never need it.
    mainWindow_ = std::make_unique<ui::LazyMainWindow>(
        [this] { return std::make_unique<ui::MainWindow>(engine_.get(), settings_, signer_.get()); });
    // Called on a server thread: only queues the call, and not at all once
    // the event loop has ended.
    server_->setOnNeedsSettings(
        [this] { ui::GuiLoop::application().post(mainWindow_.get(), [this] { bringUpMainWindow(); }); });
    // A port already taken is logged by the server; the agent runs on without
    // its local API.
    server_->start();

    tray_ = std::make_unique<ui::TrayIcon>();
    tray_->onOpenSettings = [this] { bringUpMainWindow(); };
    tray_->onOpenOperations = [] { QDesktopServices::openUrl(integrationDemoUrl()); };
    tray_->onQuit = [] { QCoreApplication::quit(); };
    tray_->show();

    updateChecker_ = std::make_unique<UpdateChecker>(QString::fromStdString(settings_->cloudBaseUrl()));
    updateInstaller_ = std::make_unique<UpdateInstaller>();
    connectUpdates(*updateChecker_, *updateInstaller_, *mainWindow_, *tray_);
    // Polling begins once the installer is wired, before the uninstaller exists.
    updateChecker_->start();
    uninstaller_ = std::make_unique<Uninstaller>();
    connectUninstall(*uninstaller_, *mainWindow_);

    listenForInstanceMessages(instance);
    // A PIN-protected key in the certificate store asks the user on the GUI
    // thread. Installed last, when nothing can throw any more, so shutDown
    // always removes it before the signer goes.
    platform::ProviderPinCache::setPrompt(ui::GuiPinPrompt(signer_.get()));
}

AgentRuntime::~AgentRuntime() {
    shutDown();
}

void AgentRuntime::showAtLaunch(const std::vector<std::string>& args) {
    switch (chooseLaunchMode(args, !settings_->listSenders().empty())) {
        case LaunchMode::ShowWindow:
            mainWindow_->get().show();  // neither raised nor activated
            break;
        case LaunchMode::SilentViaProtocol:
            logLine(LogLevel::Info, "VezoRodarC: started silently via velkagent:// protocol");
            break;
        case LaunchMode::SilentTrayOnly:
            logLine(LogLevel::Info, "VezoRodarC: started silently (tray only)");
            break;
        case LaunchMode::FirstRun:
            logLine(LogLevel::Info, "VezoRodarC: first-run — no senders configured, showing setup window");
            bringUpMainWindow();
            break;
    }
}

void AgentRuntime::shutDown() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    // Nothing queued for the GUI thread runs any more: a request thread that
    // waits for a dialog gives up at once, and none opens.
    ui::GuiLoop::application().markEnded();
    instanceMessages_.reset();
    tray_->hide();
    // A worker inside a Java run would hold up the join of the server's
    // workers for as long as the child runs: the child is ended first, and
    // callers waiting for the bridge are answered at once.
    zezizUrBridge_->shutDown();
    // Likewise a "-version" probe of Java discovery, which a VAT operation or
    // the bridge's installation may be waiting on.
    core::infra::java::JavaProbes::shared().endAll();
    server_->stop();
    engine_->shutdown();
    platform::ProviderPinCache::setPrompt({});
    logLine(LogLevel::Info, "VezoRodarC exiting");
}

void AgentRuntime::bringUpMainWindow() {
    ui::MainWindow& window = mainWindow_->get();
    window.show();
    window.raise();
    window.activateWindow();
}

// A later start of the program, on a desktop without a tray, asks for the
// window this way; any other message is ignored.
void AgentRuntime::listenForInstanceMessages(platform::SingleInstance* instance) {
    if (instance == nullptr || instance->messageFd() < 0) {
        return;
    }
    instanceMessages_ =
        std::make_unique<InstanceMessageListener>(*instance, [this](const std::string& message) {
            if (message == "show") {
                logLine(LogLevel::Info, "VezoRodarC: a second start asked for the window");
                bringUpMainWindow();
            }
        });
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
