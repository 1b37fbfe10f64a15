#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QMenu>
#include <QTimer>
#include <QUrl>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ui/TrayIcon.h"

namespace velk::ui {
namespace {

// Stands in for the browser: records the addresses the tray opens.
class UrlRecorder : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened << url; }
};

QAction* entry(TrayIcon& tray, const QString& text) {
    for (QAction* action : tray.systemTrayIcon().contextMenu()->actions()) {
        if (action->text() == text) {
            return action;
        }
    }
    return nullptr;
}

void activate(TrayIcon& tray, QSystemTrayIcon::ActivationReason reason) {
    emit tray.systemTrayIcon().activated(reason);
}

TEST(TrayIconTest, TheMenuHasItsFourEntriesInOrder) {
    TrayIcon tray;
    QStringList texts;
    for (QAction* action : tray.systemTrayIcon().contextMenu()->actions()) {
        texts << (action->isSeparator() ? QStringLiteral("---") : action->text());
    }
    EXPECT_EQ(texts, (QStringList{"Настройки...", "Отвори portal.nra.bg", "Операции", "---", "Изход"}));
    EXPECT_EQ(tray.systemTrayIcon().toolTip(), "VELK Agent");
    tray.setToolTip("ВЕЛК Агент — налична е версия 2.0");
    EXPECT_EQ(tray.systemTrayIcon().toolTip(), "ВЕЛК Агент — налична е версия 2.0");
}

TEST(TrayIconTest, OnlyALeftClickOrADoubleClickOpensTheSettings) {
    const std::vector<std::pair<QSystemTrayIcon::ActivationReason, int>> cases = {
        {QSystemTrayIcon::Trigger, 1},     {QSystemTrayIcon::DoubleClick, 1}, {QSystemTrayIcon::Context, 0},
        {QSystemTrayIcon::MiddleClick, 0}, {QSystemTrayIcon::Unknown, 0},
    };
    for (const auto& [reason, runs] : cases) {
        TrayIcon tray;
        int settings = 0;
        tray.onOpenSettings = [&] { ++settings; };
        activate(tray, reason);
        EXPECT_EQ(settings, runs) << reason;
    }
    TrayIcon unset;
    activate(unset, QSystemTrayIcon::Trigger);  // no hook: nothing happens
}

TEST(TrayIconTest, EachEntryRunsItsHook) {
    TrayIcon tray;
    std::vector<std::string> ran;
    tray.onOpenSettings = [&] { ran.push_back("settings"); };
    tray.onOpenPortal = [&] { ran.push_back("portal"); };
    tray.onOpenOperations = [&] { ran.push_back("operations"); };
    tray.onQuit = [&] { ran.push_back("quit"); };
    UrlRecorder browser;
    QDesktopServices::setUrlHandler("https", &browser, "open");
    for (const char* text : {"Настройки...", "Отвори portal.nra.bg", "Операции", "Изход"}) {
        QAction* action = entry(tray, text);
        ASSERT_NE(action, nullptr) << text;
        action->trigger();
    }
    QDesktopServices::unsetUrlHandler("https");
    EXPECT_EQ(ran, (std::vector<std::string>{"settings", "portal", "operations", "quit"}));
    EXPECT_TRUE(browser.opened.isEmpty());  // the set hook replaces the default
}

TEST(TrayIconTest, EmptyHooksFallBackToTheirDefaults) {
    TrayIcon tray;
    UrlRecorder browser;
    QDesktopServices::setUrlHandler("https", &browser, "open");
    entry(tray, "Отвори portal.nra.bg")->trigger();
    entry(tray, "Настройки...")->trigger();
    entry(tray, "Операции")->trigger();
    QDesktopServices::unsetUrlHandler("https");
    EXPECT_EQ(browser.opened, QList<QUrl>{QUrl("https://portal.nra.bg")});

    // "Изход" without a hook quits the application's event loop.
    QTimer::singleShot(0, [&] { entry(tray, "Изход")->trigger(); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(60'000);
    EXPECT_EQ(QCoreApplication::exec(), 0);
}

TEST(TrayIconTest, WithoutASystemTrayTheIconStaysHidden) {
    TrayIcon tray;
    tray.show();
    EXPECT_EQ(tray.systemTrayIcon().isVisible(), QSystemTrayIcon::isSystemTrayAvailable());
    tray.hide();
    EXPECT_FALSE(tray.systemTrayIcon().isVisible());
}

TEST(TrayIconTest, WithoutTheCompiledInImageAPlainSquareIsUsed) {
    TrayIcon tray;
    const QIcon icon = tray.systemTrayIcon().icon();
    ASSERT_FALSE(icon.isNull());
    const QImage image = icon.pixmap(16, 16).toImage();
    EXPECT_EQ(image.size(), QSize(16, 16));
    EXPECT_EQ(image.pixelColor(8, 8), QColor(0, 120, 212, 255));
}

}  // namespace
}  // namespace velk::ui

#include "TrayIconTest.moc"
