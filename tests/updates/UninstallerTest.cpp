#include "agent/Uninstaller.h"

#include <sys/stat.h>

#include <QSignalSpy>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "PackageStandIns.h"
#include "platform/AutoStart.h"
#include "platform/ProtocolHandler.h"
#include "support/FileText.h"
#include "support/LogCapture.h"
#include "support/PollUntil.h"
#include "support/TempDir.h"

namespace velk::test {
namespace {

using agent::Uninstaller;
using namespace std::chrono_literals;

const QString kNotInstalled = QStringLiteral(
    "Не е намерен инсталиран пакет vezorodar. Ако агентът е стартиран от папка за разработка, ползвайте "
    "файловата система за изтриване.");

// A process that is gone or has ended and waits to be reaped.
bool ended(const std::string& pid) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string text;
    if (!std::getline(stat, text)) {
        return true;
    }
    const std::size_t close = text.rfind(')');
    return close != std::string::npos && text.size() > close + 2 && text[close + 2] == 'Z';
}

// dpkg-query and pkexec stand-ins on PATH, and the user's two entries in
// folders whose names need quoting in a shell.
class UninstallerTest : public ::testing::Test {
protected:
    UninstallerTest() {
        std::filesystem::create_directories(bin());
        platform::AutoStart::enable("/opt/v/VezoRodarC", "--silent");
        platform::ProtocolHandler::registerHandler("/opt/v/VezoRodarC");
    }

    std::string bin() const { return dir.sub("bin"); }
    std::string record() const { return dir.sub("pkexec.txt"); }
    std::string autostartEntry() const { return platform::AutoStart::entryPath(); }
    std::string schemeEntry() const { return platform::ProtocolHandler::entryPath(); }

    void packageStatus(const std::string& status, int exitCode = 0) {
        PackageStandIns::writeScript(bin() + "/dpkg-query",
                                     "printf '%s\\n' \"$@\" > '" + dir.sub("dpkg-query.txt") + "'\nprintf '" +
                                         status + "'\nexit " + std::to_string(exitCode) + "\n");
    }
    // Records its parent (the shell) and arguments, then answers exitCode
    // as pkexec does (126: the password prompt was dismissed).
    void pkexecAnswers(int exitCode) {
        PackageStandIns::writeScript(bin() + "/pkexec", "printf '%s\\n' \"$PPID\" \"$@\" > '" + record() +
                                                            ".tmp'\nmv '" + record() + ".tmp' '" + record() +
                                                            "'\nexit " + std::to_string(exitCode) + "\n");
    }

    // Starts the uninstaller and waits for its outcome: the failure reason,
    // or empty after launched.
    QString uninstall() {
        Uninstaller uninstaller(standIns.restart());
        return uninstall(uninstaller);
    }
    static QString uninstall(Uninstaller& uninstaller) {
        QSignalSpy launched(&uninstaller, &Uninstaller::launched);
        QSignalSpy failed(&uninstaller, &Uninstaller::failed);
        uninstaller.start();
        for (int i = 0; i < 600 && launched.isEmpty() && failed.isEmpty(); ++i) {
            launched.wait(100);
        }
        EXPECT_EQ(launched.size() + failed.size(), 1);
        return failed.isEmpty() ? QString() : failed.at(0).at(0).toString();
    }

    // The recorded pkexec lines once the shell that ran it has ended.
    std::vector<std::string> removalRun() {
        for (int i = 0; i < 6000 && !std::filesystem::exists(record()); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        const auto recorded = lines(readFileText(record()));
        EXPECT_FALSE(recorded.empty());
        for (int i = 0; i < 6000 && !recorded.empty() && !ended(recorded[0]); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        return recorded;
    }

    TempDir dir;
    // The agent started again and the old agent it waits for.
    PackageStandIns standIns{dir.sub("stand-ins")};
    ScopedEnv data{"XDG_DATA_HOME", dir.sub("it's my $HOME/data")};
    ScopedEnv config{"XDG_CONFIG_HOME", dir.sub("it's my $HOME/config")};
    // No system folder: a shell that outlives the test finds no real pkexec.
    ScopedEnv path{"PATH", bin() + ":" + standIns.bin()};
};

TEST(UninstallCommand, RemovesThePackageThenTheQuotedUserEntriesOrStartsTheAgentAgain) {
    const std::string restart =
        "else i=0; while kill -0 \"$2\" 2>/dev/null && [ \"$i\" -lt 600 ]; do sleep 0.2; i=$((i+1)); done; "
        "exec \"$1\" --silent; fi";
    EXPECT_EQ(
        Uninstaller::removalCommand({"/home/u/.config/autostart/VezoRodar.desktop", "/h/it's $x/v.desktop"})
            .toStdString(),
        "if pkexec apt-get remove -y vezorodar; then rm -f '/home/u/.config/autostart/VezoRodar.desktop' "
        "'/h/it'\\''s $x/v.desktop'; " +
            restart);
    EXPECT_EQ(Uninstaller::removalCommand({"", ""}).toStdString(),
              "if pkexec apt-get remove -y vezorodar; then :; " + restart);
}

TEST_F(UninstallerTest, AnInstalledPackageIsRemovedAndThenTheUsersEntries) {
    packageStatus("install ok installed");
    pkexecAnswers(0);
    ASSERT_TRUE(std::filesystem::exists(autostartEntry()));
    ASSERT_TRUE(std::filesystem::exists(schemeEntry()));
    LogCapture log;

    EXPECT_EQ(uninstall(), QString());
    const auto recorded = removalRun();
    EXPECT_EQ(std::vector<std::string>(recorded.begin() + 1, recorded.end()),
              (std::vector<std::string>{"apt-get", "remove", "-y", "vezorodar"}));
    EXPECT_EQ(readFileText(dir.sub("dpkg-query.txt")), "-W\n-f=${Status}\nvezorodar\n");
    EXPECT_EQ(log.count("INFO", "Uninstaller: launching pkexec apt-get remove -y vezorodar"), 1);
    for (int i = 0; i < 6000 && std::filesystem::exists(schemeEntry()); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_FALSE(std::filesystem::exists(autostartEntry()));
    EXPECT_FALSE(std::filesystem::exists(schemeEntry()));
    // The shell has ended: the removed agent is not started again.
    EXPECT_TRUE(standIns.agentRun().empty());
}

// The password prompt dismissed or the removal failed: the package stays,
// and so do the entries; the agent starts again once the old one has ended.
TEST_F(UninstallerTest, ARemovalThatFailsKeepsTheUsersEntriesAndStartsTheAgentAgain) {
    packageStatus("hold ok installed");
    for (const int code : {126, 100}) {
        SCOPED_TRACE(code);
        PackageStandIns again(dir.sub("again-" + std::to_string(code)));
        const ScopedEnv withAgain("PATH", bin() + ":" + again.bin());
        pkexecAnswers(code);
        std::filesystem::remove(record());
        Uninstaller uninstaller(again.restart());
        EXPECT_EQ(uninstall(uninstaller), QString());
        ASSERT_TRUE(pollUntil([&] { return std::filesystem::exists(record()); },
                              [] { std::this_thread::sleep_for(10ms); }))
            << "the shell never ran pkexec";
        // The old agent still runs: the shell waits for it.
        ASSERT_TRUE(again.waitUntilTheShellWaits()) << "the shell does not wait for the old agent";
        EXPECT_TRUE(again.agentRun().empty());
        again.endOldAgent();
        removalRun();
        ASSERT_TRUE(again.waitForAgent()) << "the agent was not started again";
        EXPECT_EQ(again.agentRun(), (std::vector<std::string>{"--silent", "old-ended"}));
        EXPECT_TRUE(std::filesystem::exists(autostartEntry()));
        EXPECT_TRUE(std::filesystem::exists(schemeEntry()));
    }
}

TEST_F(UninstallerTest, WithoutAnInstalledPackageNothingStarts) {
    pkexecAnswers(0);
    Uninstaller uninstaller;
    for (const auto& [status, code] : std::vector<std::pair<std::string, int>>{
             {"deinstall ok config-files", 0}, {"install ok half-installed", 0}, {"", 1}}) {
        packageStatus(status, code);
        EXPECT_EQ(uninstall(uninstaller), kNotInstalled) << status;
    }
    // No dpkg at all: a folder run from a build on another system.
    std::filesystem::remove(bin() + "/dpkg-query");
    const ScopedEnv onlyFakes("PATH", bin());
    EXPECT_EQ(uninstall(uninstaller), kNotInstalled);
    EXPECT_FALSE(std::filesystem::exists(record()));
    EXPECT_TRUE(std::filesystem::exists(schemeEntry()));
}

TEST_F(UninstallerTest, WithoutThePasswordPromptTheRemovalIsNotStarted) {
    packageStatus("install ok installed");
    const ScopedEnv onlyFakes("PATH", bin());  // dpkg-query, but no pkexec
    Uninstaller uninstaller;
    LogCapture log;
    EXPECT_EQ(uninstall(uninstaller), "Не може да се стартира pkexec.");
    EXPECT_EQ(log.count("WARN", "Uninstaller: pkexec not found"), 1);
    EXPECT_TRUE(std::filesystem::exists(autostartEntry()));
}

TEST_F(UninstallerTest, ASecondStartWhileOneRunsIsRefused) {
    packageStatus("deinstall ok config-files");
    Uninstaller uninstaller;
    QSignalSpy failed(&uninstaller, &Uninstaller::failed);
    uninstaller.start();
    uninstaller.start();
    ASSERT_GE(failed.size(), 1);
    EXPECT_EQ(failed.at(0).at(0).toString(), "Деинсталацията вече тече.");
    for (int i = 0; i < 600 && failed.size() < 2; ++i) {
        failed.wait(100);
    }
    ASSERT_EQ(failed.size(), 2);
    EXPECT_EQ(failed.at(1).at(0).toString(), kNotInstalled);
}

}  // namespace
}  // namespace velk::test
