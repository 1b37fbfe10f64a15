#pragma once

namespace velk::ui {
class LazyMainWindow;
class TrayIcon;
}  // namespace velk::ui

namespace velk::agent {

class Uninstaller;
class UpdateChecker;
class UpdateInstaller;

// How start-up wires the updates into the desktop program: a newer version
// shows the window's banner (once the window is made, if it is not yet) and
// names itself in the tray's tooltip; the banner's button starts the
// installer; a package handed off ends the agent 500 ms later; an installer
// failure is logged and shown in the banner.
void connectUpdates(UpdateChecker& checker, UpdateInstaller& installer, ui::LazyMainWindow& window,
                    ui::TrayIcon& tray);

// The window's uninstall link starts the uninstaller; a removal under way
// ends the agent 500 ms later; a failure is logged and shown in a warning box.
void connectUninstall(Uninstaller& uninstaller, ui::LazyMainWindow& window);

}  // namespace velk::agent
