#include "agent/UpdateConnections.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

#include <memory>

#include <gtest/gtest.h>

#include "agent/Uninstaller.h"
#include "agent/UpdateChecker.h"
#include "agent/UpdateInstaller.h"
#include "common/AgentVersion.h"
#include "engine/InMemorySettings.h"
#include "engine/VelkEngine.h"
#include "support/GuardedEventLoop.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "ui/LazyMainWindow.h"
#include "ui/MainWindow.h"
#include "ui/ModalDialogs.h"
#include "ui/ScriptedSigner.h"
#include "ui/TrayIcon.h"

namespace velk::test {
namespace {

using agent::Uninstaller;
using agent::UpdateChecker;
using agent::UpdateInstaller;

const QString kBannerText = QStringLiteral("Налична е нова версия 0.2.0. Текуща: %1.")
                                .arg(QString::fromStdString(core::versionString()));

// The update objects wired to a real window and tray as start-up wires them.
class UpdateConnectionsTest : public ::testing::Test {
protected:
    UpdateConnectionsTest() {
        auto store = std::make_unique<InMemorySettings>();
        settings = store.get();
        engine = std::make_unique<core::VelkEngine>(std::move(store));
        agent::connectUpdates(checker, installer, lazyWindow, tray);
        agent::connectUninstall(uninstaller, lazyWindow);
    }
    ~UpdateConnectionsTest() override { closeAllModals(); }

    ui::MainWindow& window() { return lazyWindow.get(); }

    template <class W>
    W* child(const char* name) {
        W* widget = window().findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    TempDir temp;
    ScopedEnv tmpdir{"TMPDIR", temp.str()};
    InMemorySettings* settings = nullptr;
    ScriptedSigner signer;
    std::unique_ptr<core::VelkEngine> engine;
    // Made when a test first asks for it, as start-up makes it.
    ui::LazyMainWindow lazyWindow{
        [this] { return std::make_unique<ui::MainWindow>(engine.get(), settings, &signer); }};
    ui::TrayIcon tray;
    UpdateChecker checker{QString()};
    UpdateInstaller installer;
    Uninstaller uninstaller;
};

TEST_F(UpdateConnectionsTest, ANewerVersionShowsTheBannerAndNamesItselfInTheTray) {
    window();
    emit checker.updateAvailable(QStringLiteral("0.2.0"), QStringLiteral("https://127.0.0.1:1/v.deb"));
    EXPECT_TRUE(child<QFrame>("updateBanner")->isVisibleTo(&window()));
    EXPECT_EQ(child<QLabel>("updateBannerText")->text(), kBannerText);
    EXPECT_EQ(tray.systemTrayIcon().toolTip(), "ВЕЛК Агент — налична е версия 0.2.0");
}

// An agent started silently makes its window only when it is first shown;
// an update announced before that is in the banner of the window made later.
TEST_F(UpdateConnectionsTest, AWindowMadeAfterTheAnnouncementShowsTheBanner) {
    emit checker.updateAvailable(QStringLiteral("0.2.0"), QStringLiteral("https://127.0.0.1:1/v.deb"));
    EXPECT_EQ(lazyWindow.ifMade(), nullptr);
    EXPECT_EQ(tray.systemTrayIcon().toolTip(), "ВЕЛК Агент — налична е версия 0.2.0");

    EXPECT_TRUE(child<QFrame>("updateBanner")->isVisibleTo(&window()));
    EXPECT_EQ(child<QLabel>("updateBannerText")->text(), kBannerText);
}

// The banner's button starts the installer; its failure is logged and shown
// in the banner with a retry.
TEST_F(UpdateConnectionsTest, TheBannerStartsTheInstallerAndShowsItsFailure) {
    emit checker.updateAvailable(QStringLiteral("0.2.0"), QStringLiteral("https://127.0.0.1:1/v.deb"));
    QSignalSpy progress(&installer, &UpdateInstaller::progress);
    QSignalSpy failed(&installer, &UpdateInstaller::failed);
    LogCapture log;
    child<QPushButton>("updateBannerButton")->click();
    EXPECT_EQ(progress.size(), 1);
    ASSERT_TRUE(failed.wait(60'000));

    const QString reason = QStringLiteral("Грешка при изтегляне на инсталатора (празен отговор).");
    EXPECT_EQ(log.count("WARN", "UpdateInstaller failed: " + reason.toStdString()), 1);
    EXPECT_EQ(child<QLabel>("updateBannerText")->text(), reason);
    EXPECT_EQ(child<QPushButton>("updateBannerButton")->text(), "Опитай отново");
}

TEST_F(UpdateConnectionsTest, AHandedOffPackageEndsTheAgentShortlyAfter) {
    emit installer.launched();
    EXPECT_TRUE(execUntilQuit());
}

TEST_F(UpdateConnectionsTest, AStartedRemovalEndsTheAgentShortlyAfter) {
    emit uninstaller.launched();
    EXPECT_TRUE(execUntilQuit());
}

// The window's uninstall link starts the uninstaller; without the package
// (this machine) its failure is logged and shown in a warning box.
TEST_F(UpdateConnectionsTest, TheUninstallLinkStartsTheUninstallerAndAFailureIsShownInABox) {
    const ScopedEnv path("PATH", temp.str());  // no dpkg-query: nothing is installed
    auto seen = ModalScript().expectTitle(QStringLiteral("Неуспешна деинсталация")).click("OK").arm();
    QSignalSpy failed(&uninstaller, &Uninstaller::failed);
    LogCapture log;
    emit window().requestUninstall();
    EXPECT_TRUE(waitFinished(seen));
    ASSERT_EQ(failed.size(), 1);
    const QString reason = failed.at(0).at(0).toString();
    EXPECT_TRUE(reason.startsWith("Не е намерен инсталиран пакет vezorodar.")) << reason.toStdString();
    EXPECT_TRUE(seen->found);
    EXPECT_TRUE(seen->labels.contains(reason)) << seen->labels.join('|').toStdString();
    EXPECT_EQ(log.count("WARN", "Uninstaller failed: Не е намерен инсталиран пакет vezorodar."), 1);
}

}  // namespace
}  // namespace velk::test
