#include "ui/TrayIcon.h"

#include <QAction>
#include <QColor>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QIcon>
#include <QPixmap>
#include <QUrl>

#include <string>

#include "common/AgencyEndpoints.h"
#include "ui/AgentLogo.h"

namespace velk::ui {

namespace {

QString portalHost() {
    return QString::fromLatin1(core::AgencyEndpoints::kPortalHost.data(),
                               static_cast<int>(core::AgencyEndpoints::kPortalHost.size()));
}

QIcon trayImage() {
    // Without the compiled-in image, a plain square.
    QPixmap image = agentLogo();
    if (image.isNull()) {
        image = QPixmap(16, 16);
        image.fill(QColor(0, 120, 212, 255));
    }
    return QIcon(image);
}

}  // namespace

TrayIcon::TrayIcon(QObject* parent) : QObject(parent) {
    icon_.setIcon(trayImage());
    icon_.setToolTip(tr("VELK Agent"));
    buildMenu();
    icon_.setContextMenu(&menu_);
    connect(&icon_, &QSystemTrayIcon::activated, this, &TrayIcon::onActivated);
}

TrayIcon::~TrayIcon() {
    // The icon points at the menu; let go of it before either goes.
    icon_.setContextMenu(nullptr);
}

void TrayIcon::show() {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        icon_.show();
    }
}

void TrayIcon::hide() {
    icon_.hide();
}

void TrayIcon::setToolTip(const QString& text) {
    icon_.setToolTip(text);
}

void TrayIcon::buildMenu() {
    menu_.clear();
    connect(menu_.addAction(tr("Настройки...")), &QAction::triggered, this, [this] {
        if (onOpenSettings) {
            onOpenSettings();
        }
    });
    connect(menu_.addAction(tr("Отвори ") + portalHost()), &QAction::triggered, this, [this] {
        if (onOpenPortal) {
            onOpenPortal();
        } else {
            QDesktopServices::openUrl(QUrl(QStringLiteral("https://") + portalHost(), QUrl::TolerantMode));
        }
    });
    connect(menu_.addAction(tr("Операции")), &QAction::triggered, this, [this] {
        if (onOpenOperations) {
            onOpenOperations();
        }
    });
    menu_.addSeparator();
    connect(menu_.addAction(tr("Изход")), &QAction::triggered, this, [this] {
        if (onQuit) {
            onQuit();
        } else {
            QCoreApplication::quit();
        }
    });
}

void TrayIcon::onActivated(QSystemTrayIcon::ActivationReason reason) {
    // A right click (Context) only opens the menu.
    if ((reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) && onOpenSettings) {
        onOpenSettings();
    }
}

}  // namespace velk::ui
