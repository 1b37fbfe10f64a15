#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "agent/LaunchMode.h"

namespace velk::core {
class VelkEngine;
}  // namespace velk::core

namespace velk::core::infra::java {
class ZezizUrBridge;
}  // namespace velk::core::infra::java

namespace velk::signing {
class ISigner;
class SigningSession;
}  // namespace velk::signing

namespace velk::server {
class HttpServer;
class JobStore;
}  // namespace velk::server

namespace velk::platform {
class SingleInstance;
}  // namespace velk::platform

namespace velk::ui {
class FilePicker;
class LazyMainWindow;
class SenderPicker;
class TrayIcon;
class UiConfirmer;
}  // namespace velk::ui

namespace velk::agent {

class FileSettings;
class InstanceMessageListener;
class Uninstaller;
class UpdateChecker;
class UpdateInstaller;

// The long-lived objects of the running agent, made on the GUI thread in a
// fixed order and wired together, after the URL-scheme registration:
// settings, engine, signer, the Java bridge, signing session, job store, the
// GUI-thread pickers, the local API server (listening once the constructor
// returns), the main window's holder (the window is made when first shown),
// the tray icon, the update checker, the update installer and the
// uninstaller. They are destroyed in the reverse order, after shutDown, so
// the server's threads are joined before anything they point to goes.
class AgentRuntime {
public:
    // Throws when the per-user settings folder cannot be made. instance is
    // the held single-instance guard, whose messages ("show" from a later
    // start on a desktop without a tray) this object answers; may be null.
    AgentRuntime(std::uint16_t apiPort, platform::SingleInstance* instance);
    ~AgentRuntime();
    AgentRuntime(const AgentRuntime&) = delete;
    AgentRuntime& operator=(const AgentRuntime&) = delete;

    // How the program shows itself at start; args follow the program name.
    void showAtLaunch(const std::vector<std::string>& args);

    // After the event loop: marks the loop ended (so no call waits for the GUI
    // thread any more), hides the tray icon, ends the Java bridge's running
    // child and Java discovery's probes, stops the server (its threads
    // joined), shuts the engine down and logs "VezoRodarC exiting". Runs once.
    void shutDown();

private:
    void restoreCachedPin();
    void bringUpMainWindow();
    void listenForInstanceMessages(platform::SingleInstance* instance);

    bool shutDown_ = false;
    FileSettings* settings_ = nullptr;  // owned by the engine
    std::unique_ptr<core::VelkEngine> engine_;
    std::unique_ptr<signing::ISigner> signer_;
    // The Java bridge for the VAT client: destroyed after the signing
    // session and before the signer.
    std::unique_ptr<core::infra::java::ZezizUrBridge> zezizUrBridge_;
    std::unique_ptr<signing::SigningSession> signingSession_;
    std::unique_ptr<server::JobStore> jobStore_;
    std::unique_ptr<ui::FilePicker> filePicker_;
    std::unique_ptr<ui::UiConfirmer> confirmer_;
    std::unique_ptr<ui::SenderPicker> senderPicker_;
    std::unique_ptr<server::HttpServer> server_;
    std::unique_ptr<ui::LazyMainWindow> mainWindow_;
    std::unique_ptr<ui::TrayIcon> tray_;
    // Destroyed before the tray and the window they are connected to; each
    // cancels and joins its worker thread.
    std::unique_ptr<UpdateChecker> updateChecker_;
    std::unique_ptr<UpdateInstaller> updateInstaller_;
    std::unique_ptr<Uninstaller> uninstaller_;
    std::unique_ptr<InstanceMessageListener> instanceMessages_;
};

}  // namespace velk::agent
