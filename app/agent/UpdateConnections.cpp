#include "agent/UpdateConnections.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QObject>
#include <QTimer>

#include <memory>

#include "agent/Uninstaller.h"
#include "agent/UpdateChecker.h"
#include "agent/UpdateInstaller.h"
#include "common/Logger.h"
#include "common/TextUtils.h"
#include "ui/LazyMainWindow.h"
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

void connectUpdates(UpdateChecker& checker, UpdateInstaller& installer, ui::LazyMainWindow& window,
                    ui::TrayIcon& tray) {
    // The last announcement, for a window made after it.
    struct Announced {
        QString version;
        QString downloadUrl;
    };
    auto announced = std::make_shared<Announced>();
    QObject::connect(&checker, &UpdateChecker::updateAvailable,
                     [&window, &tray, announced](const QString& version, const QString& downloadUrl) {
                         *announced = {version, downloadUrl};
                         if (ui::MainWindow* made = window.ifMade()) {
                             made->showUpdateAvailable(version, downloadUrl);
                         }
                         tray.setToolTip(QObject::tr("ВЕЛК Агент — налична е версия %1").arg(version));
                     });
    QObject::connect(&installer, &UpdateInstaller::launched, [] { quitSoon(); });
    QObject::connect(&installer, &UpdateInstaller::failed, [](const QString& reason) {
        logLine(LogLevel::Warn, "UpdateInstaller failed: " + core::escapeControlBytes(reason.toStdString()));
    });
    window.whenMade([&installer, announced](ui::MainWindow& made) {
        QObject::connect(&made, &ui::MainWindow::requestInstallUpdate, &installer, &UpdateInstaller::start);
        QObject::connect(&installer, &UpdateInstaller::failed, &made, &ui::MainWindow::showUpdateError);
        if (!announced->version.isEmpty()) {
            made.showUpdateAvailable(announced->version, announced->downloadUrl);
        }
    });
}

void connectUninstall(Uninstaller& uninstaller, ui::LazyMainWindow& window) {
    window.whenMade([&uninstaller](ui::MainWindow& made) {
        QObject::connect(&made, &ui::MainWindow::requestUninstall, &uninstaller, &Uninstaller::start);
    });
    QObject::connect(&uninstaller, &Uninstaller::launched, [] { quitSoon(); });
    QObject::connect(&uninstaller, &Uninstaller::failed, [](const QString& reason) {
        logLine(LogLevel::Warn, "Uninstaller failed: " + core::escapeControlBytes(reason.toStdString()));
        QMessageBox::warning(nullptr, QObject::tr("Неуспешна деинсталация"), reason, QMessageBox::Ok);
    });
}

}  // namespace velk::agent
