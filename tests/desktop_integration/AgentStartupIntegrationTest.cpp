// The built agent registers its URL scheme at start and wires the update
// check, in start-up's order, and ends in order with the update objects in
// place.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "agent_startup/AgentProcess.h"
#include "support/FileText.h"
#include "support/FreePort.h"
#include "support/TempDir.h"

namespace velk::test {
namespace {

constexpr std::chrono::seconds kDeadline{60};

int occurrences(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

class AgentStartupIntegrationTest : public ::testing::Test {
protected:
    AgentStartupIntegrationTest() {
        std::filesystem::create_directories(home_.dir().sub("runtime"));
        std::filesystem::permissions(home_.dir().sub("runtime"), std::filesystem::perms::owner_all);
    }

    std::string log() const { return readFileText(home_.dataHome() + "/VEZORodar/Logs/VezoRodarC.log"); }

    // Starts the agent, waits until it has shown itself, ends it with
    // SIGTERM and returns its exit code.
    int startAndEnd() {
        AgentProcess agent(home_.dir().str(), {{"HOME", home_.dir().str()},
                                               {"XDG_DATA_HOME", home_.dataHome()},
                                               {"XDG_CONFIG_HOME", home_.configHome()},
                                               {"XDG_RUNTIME_DIR", home_.dir().sub("runtime")},
                                               {"QT_QPA_PLATFORM", "offscreen"},
                                               {"VELK_TEST_PORT", std::to_string(freePort())}});
        const auto end = std::chrono::steady_clock::now() + kDeadline;
        const int shownBefore = occurrences(log(), "VezoRodarC: first-run");
        while (occurrences(log(), "VezoRodarC: first-run") == shownBefore && agent.running() &&
               std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        agent.signal(SIGTERM);
        const auto code = agent.waitForExit(kDeadline);
        EXPECT_TRUE(code.has_value()) << agent.standardError();
        return code.value_or(-1);
    }

    IsolatedHome home_;
};

TEST_F(AgentStartupIntegrationTest, TheFirstStartRegistersTheSchemeAndLaterStartsOnlyMendAnOutdatedEntry) {
    std::filesystem::create_directories(home_.configHome());
    std::ofstream(home_.configHome() + "/mimeapps.list")
        << "[Default Applications]\ntext/html=firefox.desktop\n";

    ASSERT_EQ(startAndEnd(), 0) << log();
    const std::string exe = std::filesystem::canonical(VELK_AGENT_EXE).string();
    const std::string entry = readFileText(home_.dataHome() + "/applications/vezorodar.desktop");
    // The build folder's path needs no quoting, so the program stands bare.
    EXPECT_NE(entry.find("\nExec=" + exe + " %u\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nMimeType=x-scheme-handler/vezorodar;\n"), std::string::npos) << entry;
    EXPECT_EQ(
        readFileText(home_.configHome() + "/mimeapps.list"),
        "[Default Applications]\ntext/html=firefox.desktop\nx-scheme-handler/vezorodar=vezorodar.desktop\n");

    // In start-up's order: the log, the scheme, ... the update check, the
    // launch; and shut-down in order.
    const std::string first = log();
    const auto starting = first.find("VezoRodarC starting");
    const auto registered = first.find("vezorodar:// protocol registered under HKCU");
    const auto polling =
        first.find("UpdateChecker: started polling https://cloud.vezorodar.bg (interval=21600s)");
    const auto launch = first.find("VezoRodarC: first-run");
    const auto exiting = first.find("VezoRodarC exiting");
    ASSERT_NE(registered, std::string::npos) << first;
    ASSERT_NE(polling, std::string::npos) << first;
    ASSERT_NE(exiting, std::string::npos) << first;
    EXPECT_LT(starting, registered);
    EXPECT_LT(registered, polling);
    EXPECT_LT(polling, launch);
    EXPECT_LT(launch, exiting);

    // Registered already: the next start writes nothing.
    std::ofstream(home_.dataHome() + "/applications/vezorodar.desktop", std::ios::app) << "X-Mine=kept\n";
    ASSERT_EQ(startAndEnd(), 0) << log();
    EXPECT_EQ(occurrences(log(), "vezorodar:// protocol registered under HKCU"), 1) << log();
    EXPECT_EQ(occurrences(log(), "VezoRodarC exiting"), 2) << log();
    EXPECT_NE(readFileText(home_.dataHome() + "/applications/vezorodar.desktop").find("X-Mine=kept\n"),
              std::string::npos);

    // An entry an earlier version wrote, with the program quoted (which
    // xdg-open cannot run), is written again, bare; one naming another copy
    // of the program is left as it is.
    const std::string bareLine = "\nExec=" + exe + " %u\n";
    std::string quoted = entry;
    quoted.replace(quoted.find(bareLine), bareLine.size(), "\nExec=\"" + exe + "\" %u\n");
    std::ofstream(home_.dataHome() + "/applications/vezorodar.desktop", std::ios::trunc) << quoted;
    ASSERT_EQ(startAndEnd(), 0) << log();
    EXPECT_EQ(occurrences(log(), "vezorodar:// protocol registered under HKCU"), 2) << log();
    EXPECT_EQ(readFileText(home_.dataHome() + "/applications/vezorodar.desktop"), entry);

    const std::string elsewhere = "[Desktop Entry]\nExec=\"/opt/other/VezoRodarC\" %u\n";
    std::ofstream(home_.dataHome() + "/applications/vezorodar.desktop", std::ios::trunc) << elsewhere;
    ASSERT_EQ(startAndEnd(), 0) << log();
    EXPECT_EQ(occurrences(log(), "vezorodar:// protocol registered under HKCU"), 2) << log();
    EXPECT_EQ(readFileText(home_.dataHome() + "/applications/vezorodar.desktop"), elsewhere);
}

}  // namespace
}  // namespace velk::test
