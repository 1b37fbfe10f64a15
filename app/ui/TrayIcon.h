#pragma once

#include <QMenu>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

#include <functional>

namespace velk::ui {

// The agent's icon in the system tray with its context menu. It knows nothing
// of the rest of the agent: each entry runs a hook that the owner assigns.
// GUI thread only.
class TrayIcon : public QObject {
    Q_OBJECT

public:
    using Hook = std::function<void()>;

    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // Shows the icon only when the desktop has a system tray now; no retry.
    void show();
    void hide();
    void setToolTip(const QString& text);

    // For tests: the icon whose activation and menu the hooks answer.
    QSystemTrayIcon& systemTrayIcon() { return icon_; }

private:
    void buildMenu();
    void onActivated(QSystemTrayIcon::ActivationReason reason);

    QSystemTrayIcon icon_;
    QMenu menu_;

public:
    // Declared after the icon and the menu, so they go first, from the last
    // to the first. Empty: "Отвори" opens the portal's home page and "Изход"
    // quits; the other two do nothing.
    Hook onOpenSettings;
    Hook onOpenPortal;
    Hook onOpenOperations;
    Hook onQuit;
};

}  // namespace velk::ui
