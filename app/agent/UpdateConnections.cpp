#include "agent/UpdateConnections.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QObject>
#include <QTimer>

#include "agent/Uninstaller.h"
#include "agent/UpdateChecker.h"
#include "agent/UpdateInstaller.h"
#include "common/Logger.h"
#include "ui/MainWindow.h"
#include "ui/TrayIcon.h"

namespace velk::agent {

namespace {

using core::LogLevel;
using core::logLine;

// Long enough for the handed-off program to come up before the agent goes.
constexpr int kQuitDelayMs = 500;

void quitSoon() {
    QTimer::singleShot(kQuitDelayMs, [] { QCoreApplication::quit(); });
}

}  // namespace

void connectUpdates(UpdateChecker& checker, UpdateInstaller& installer, ui::MainWindow& window,
                    ui::TrayIcon& tray) {
    QObject::connect(&checker, &UpdateChecker::updateAvailable,
                     [&window, &tray](const QString& version, const QString& downloadUrl) {
                         window.showUpdateAvailable(version, downloadUrl);
                         tray.setToolTip(QObject::tr("ВЕЛК Агент — налична е версия %1").arg(version));
                     });
    QObject::connect(&window, &ui::MainWindow::requestInstallUpdate, &installer, &UpdateInstaller::start);
    QObject::connect(&installer, &UpdateInstaller::launched, [] { quitSoon(); });
    QObject::connect(&installer, &UpdateInstaller::failed, [&window](const QString& reason) {
        logLine(LogLevel::Warn, "UpdateInstaller failed: " + reason.toStdString());
        window.showUpdateError(reason);
    });
}

void connectUninstall(Uninstaller& uninstaller, ui::MainWindow& window) {
    QObject::connect(&window, &ui::MainWindow::requestUninstall, &uninstaller, &Uninstaller::start);
    QObject::connect(&uninstaller, &Uninstaller::launched, [] { quitSoon(); });
    QObject::connect(&uninstaller, &Uninstaller::failed, [](const QString& reason) {
        logLine(LogLevel::Warn, "Uninstaller failed: " + reason.toStdString());
        QMessageBox::warning(nullptr, QObject::tr("Неуспешна деинсталация"), reason, QMessageBox::Ok);
    });
}

}  // namespace velk::agent
