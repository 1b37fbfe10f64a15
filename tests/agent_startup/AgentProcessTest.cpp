// The built agent as a black box: started on a free port with folders of its
// own, reached over its local API, and ended the ways a desktop ends it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "agent_startup/AgentProcess.h"
#include "common/AgentVersion.h"
#include "infrastructure/signing/PinStore.h"
#include "java/ChildScripts.h"
#include "platform/UniqueFd.h"
#include "support/FileText.h"
#include "support/FreePort.h"
#include "support/HeldUpStart.h"
#include "support/TempDir.h"
#include "support/TokenMinter.h"
#include "support/TricklingPeer.h"

namespace velk::test {
namespace {

using nlohmann::json;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// Generous: the sanitizer build starts slowly.
constexpr std::chrono::seconds kDeadline{60};

constexpr const char* kSenderId = "s-0000000000a1";
constexpr const char* kCertificateId = "CERT-STARTUP-1";
constexpr const char* kPin = "pin-7319-never-logged";

int countContaining(const std::vector<std::string>& all, const std::string& text) {
    int n = 0;
    for (const auto& line : all) {
        n += line.find(text) != std::string::npos ? 1 : 0;
    }
    return n;
}

class AgentProcessTest : public ::testing::Test {
protected:
    AgentProcessTest() {
        std::filesystem::create_directories(runtimeDir());
        ::chmod(runtimeDir().c_str(), 0700);
    }

    std::string runtimeDir() const { return home_.dir().sub("runtime"); }
    std::string agentFolder() const { return home_.dataHome() + "/VEZORodar"; }
    std::string logPath() const { return agentFolder() + "/Logs/VezoRodarC.log"; }
    std::string log() const { return readFileText(logPath()); }

    std::map<std::string, std::string> environment() const {
        return {{"HOME", home_.dir().str()},
                {"XDG_DATA_HOME", home_.dataHome()},
                {"XDG_CONFIG_HOME", home_.configHome()},
                {"XDG_RUNTIME_DIR", runtimeDir()},
                {"QT_QPA_PLATFORM", "offscreen"},
                {"VELK_TEST_PORT", std::to_string(port_)}};
    }

    AgentProcess start(const std::map<std::string, std::string>& extra = {},
                       const std::vector<std::string>& args = {}) const {
        auto env = environment();
        for (const auto& [name, value] : extra) {
            env[name] = value;
        }
        return AgentProcess(home_.dir().str(), env, args);
    }

    void writeOneSender() const {
        std::filesystem::create_directories(agentFolder());
        const json settings = {{"schemaVersion", 2},
                               {"activeSenderId", kSenderId},
                               {"senders",
                                {{{"id", kSenderId},
                                  {"displayName", "Тестова фирма"},
                                  {"identifier", "8001010000"},
                                  {"identifierType", "IND_EGN"},
                                  {"certificateId", kCertificateId},
                                  {"signerEmail", ""},
                                  {"apiKey", ""}}}}};
        std::ofstream(agentFolder() + "/settings.json") << settings.dump(2);
    }

    httplib::Client client() const {
        httplib::Client http("127.0.0.1", port_);
        http.set_connection_timeout(5);
        http.set_read_timeout(60);
        return http;
    }

    bool waitUntilServing(AgentProcess& agent) const { return agent.waitUntilServing(port_, kDeadline); }

    bool waitForLogLine(const std::string& text) const {
        const auto end = std::chrono::steady_clock::now() + kDeadline;
        while (log().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= end) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    static bool waitForFile(const std::string& path) {
        const auto end = std::chrono::steady_clock::now() + kDeadline;
        while (!std::filesystem::exists(path)) {
            if (std::chrono::steady_clock::now() >= end) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    bool waitUntilPortCloses() const {
        const auto end = std::chrono::steady_clock::now() + kDeadline;
        while (std::chrono::steady_clock::now() < end) {
            if (!client().Get("/api/health")) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    IsolatedHome home_;
    const int port_ = freePort();
};

TEST_F(AgentProcessTest, ServesTheLocalApiUntilTerminatedAndShutsDownInOrder) {
    writeOneSender();
    // The PIN store reads the same per-user folders as the agent.
    ASSERT_TRUE(signing::PinStore::store(kCertificateId, kPin));

    AgentProcess agent = start({{"VELK_TEST_CONNECT_TO", "portal.nra.bg:443:127.0.0.1:9"},
                                {"VELK_TEST_CA_FILE", home_.dir().sub("no-ca.pem")}});
    ASSERT_TRUE(waitUntilServing(agent)) << agent.standardError();

    const auto health = client().Get("/api/health");
    ASSERT_TRUE(health);
    ASSERT_EQ(health->status, 200) << health->body;
    const json healthBody = json::parse(health->body);
    EXPECT_EQ(healthBody.at("status"), "ok");
    EXPECT_EQ(healthBody.at("version"), core::versionString());

    const auto operations = client().Get("/api/operations");
    ASSERT_TRUE(operations);
    const json catalogue = json::parse(operations->body);
    ASSERT_TRUE(catalogue.is_array());
    EXPECT_TRUE(std::any_of(catalogue.begin(), catalogue.end(),
                            [](const json& entry) { return entry.value("typeId", "") == "taxpayers"; }));

    // A test run: the fixture's answer, for the one sender, with no dialog.
    const TokenMinter minter;
    const std::string token = minter.mint(json{{"test", true}});
    const auto run = client().Post("/api/v1/operations/taxpayers", {{"Authorization", "Bearer " + token}},
                                   "{}", "application/json");
    ASSERT_TRUE(run);
    ASSERT_EQ(run->status, 200) << run->body;
    const json result = json::parse(run->body);
    EXPECT_TRUE(result.is_object()) << run->body;
    EXPECT_FALSE(result.contains("errorMessage")) << run->body;

    // A second start through a link or the autostart entry ends at once and
    // writes nothing. The access line follows the answer: the log is complete
    // once it is there.
    ASSERT_TRUE(waitForLogLine("POST /api/v1/operations/taxpayers -> 200"));
    const std::string logBefore = log();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--silent"}, std::vector<std::string>{"vezorodar://open?x=1"},
          std::vector<std::string>{"vezorodar:open"}, std::vector<std::string>{"VezoRodar://open"}}) {
        AgentProcess second = start({}, args);
        EXPECT_EQ(second.waitForExit(kDeadline), 0);
        EXPECT_THAT(second.standardError(), Not(HasSubstr("VezoRodarC")));
    }
    // The export is no second agent: it runs beside this one and writes no log.
    AgentProcess exporter = start({}, {"--export-schema"});
    EXPECT_EQ(exporter.waitForExit(kDeadline), 0) << exporter.standardError();
    EXPECT_EQ(log(), logBefore);
    EXPECT_TRUE(agent.running());

    // A start by hand, where no tray icon can be clicked (the offscreen
    // platform has none), asks the running agent for its window and ends.
    AgentProcess byHand = start({}, {});
    EXPECT_EQ(byHand.waitForExit(kDeadline), 0);
    EXPECT_TRUE(waitForLogLine("VezoRodarC: a second start asked for the window"));
    EXPECT_EQ(countContaining(lines(log()), "VezoRodarC starting"), 1);

    // Shutting the local API down closes the port; the program runs on.
    const auto shutdown = client().Post("/api/shutdown", "", "application/json");
    ASSERT_TRUE(shutdown);
    EXPECT_EQ(shutdown->status, 202);
    EXPECT_TRUE(waitUntilPortCloses());
    EXPECT_TRUE(agent.running());

    agent.signal(SIGTERM);
    EXPECT_EQ(agent.waitForExit(kDeadline), 0) << agent.standardError();

    const std::string text = log();
    EXPECT_THAT(text, EndsWith("[INFO ] VezoRodarC exiting\n"));
    const auto all = lines(text);
    ASSERT_FALSE(all.empty());
    EXPECT_THAT(all.front(), EndsWith("[INFO ] VezoRodarC starting"));
    EXPECT_EQ(countContaining(all, "VezoRodarC starting"), 1);
    for (const char* seam : {"VELK_TEST_PORT=", "VELK_TEST_CONNECT_TO=", "VELK_TEST_CA_FILE="}) {
        EXPECT_EQ(countContaining(all, std::string("[WARN ] VezoRodarC: test seam ") + seam), 1) << seam;
    }
    EXPECT_EQ(countContaining(all, "[INFO ] Restored cached PIN for active sender"), 1);
    EXPECT_EQ(countContaining(all, "[INFO ] VezoRodarC: started silently (tray only)"), 1);
    EXPECT_EQ(countContaining(all, "[INFO ] VezoRodarC: SIGTERM received"), 1);
    // Only the start by hand asked for the window, none of the links.
    EXPECT_EQ(countContaining(all, "VezoRodarC: a second start asked for the window"), 1);
    EXPECT_EQ(countContaining(all, "test mode (unverified path) for typeId=taxpayers"), 1);
    EXPECT_THAT(text, Not(HasSubstr(kPin)));
    EXPECT_THAT(agent.standardError(), Not(HasSubstr(kPin)));
}

TEST_F(AgentProcessTest, WithoutSendersOpensTheFirstRunAndEndsInOrderOnInterrupt) {
    AgentProcess agent = start();
    ASSERT_TRUE(waitUntilServing(agent)) << agent.standardError();

    agent.signal(SIGINT);
    EXPECT_EQ(agent.waitForExit(kDeadline), 0) << agent.standardError();
    EXPECT_FALSE(client().Get("/api/health"));

    const auto all = lines(log());
    EXPECT_EQ(
        countContaining(all, "[INFO ] VezoRodarC: first-run — no senders configured, showing setup window"),
        1);
    EXPECT_EQ(countContaining(all, "Restored cached PIN"), 0);
    EXPECT_EQ(countContaining(all, "test seam VELK_TEST_PORT="), 1);
    EXPECT_EQ(countContaining(all, "test seam VELK_TEST_C"), 0);
    ASSERT_FALSE(all.empty());
    EXPECT_THAT(all.back(), EndsWith("[INFO ] VezoRodarC exiting"));
}

// A stand-in "java" whose runs never end: a validation of the local API that
// finds it running is answered at once, and SIGTERM still ends the agent, the
// child and everything in its process group.
TEST_F(AgentProcessTest, AJavaRunThatNeverEndsHoldsUpNeitherTheApiNorTheExit) {
    const std::string javaClient = agentFolder() + "/ZezizUR";
    std::filesystem::create_directories(javaClient + "/native");
    for (const char* name :
         {"VATClientService.jar", "SignerService.jar", "LSManager.jar", "native/vatclient.dll"}) {
        std::ofstream(javaClient + "/" + name) << "installed";
    }
    const std::string jdk = home_.dir().sub("jdk");
    std::filesystem::create_directories(jdk + "/bin");
    writeStandInJava(jdk + "/bin/java",
                     "IFS= read -r line\n"
                     "dir=${line#DIR:}\n"
                     "sleep 1000 &\n"
                     "echo $$ > \"$dir/group.tmp\" && mv \"$dir/group.tmp\" \"$dir/group\"\n"
                     "wait\n");
    const std::string held = home_.dir().sub("held");
    const std::string other = home_.dir().sub("other");
    std::filesystem::create_directories(held);
    std::filesystem::create_directories(other);

    AgentProcess agent =
        start({{"JAVA_HOME", jdk}, {"VELK_TEST_CONNECT_TO", "portal.nra.bg:443:127.0.0.1:9"}});
    ASSERT_TRUE(waitUntilServing(agent)) << agent.standardError();
    auto first = std::async(std::launch::async, [this, &held] {
        return client().Post("/api/validate", json{{"declarationDir", held}}.dump(), "application/json");
    });
    ASSERT_TRUE(waitForFile(held + "/group")) << "the stand-in never ran\n" << agent.standardError();
    const pid_t group = std::stoi(readFileText(held + "/group"));
    const EndGroupOnExit endGroup{group};

    const auto busy =
        client().Post("/api/validate", json{{"declarationDir", other}}.dump(), "application/json");
    ASSERT_TRUE(busy) << "the second validation got no answer while the first ran";
    EXPECT_EQ(busy->status, 200);
    EXPECT_EQ(
        json::parse(busy->body),
        json({{"ok", false},
              {"errors",
               {"В момента се изпълнява друга операция с Java (валидация или подаване на ДДС). Опитайте "
                "отново, когато тя приключи."}}}));
    EXPECT_FALSE(std::filesystem::exists(other + "/group"));

    agent.signal(SIGTERM);
    EXPECT_EQ(agent.waitForExit(kDeadline), 0) << agent.standardError();
    EXPECT_TRUE(waitUntilGroupGone(group));
    ASSERT_EQ(first.wait_for(kDeadline), std::future_status::ready);
    const auto interrupted = first.get();
    ASSERT_TRUE(interrupted) << "the running validation got no answer";
    EXPECT_EQ(json::parse(interrupted->body),
              json({{"ok", false}, {"errors", {"Валидацията беше прекъсната, защото агентът се затваря."}}}));
    const auto all = lines(log());
    EXPECT_EQ(countContaining(all, "[WARN ] ZezizUR validate: the agent is shutting down"), 1);
    ASSERT_FALSE(all.empty());
    EXPECT_THAT(all.back(), EndsWith("[INFO ] VezoRodarC exiting"));
}

// A stand-in "java" that never answers "-version": the validation whose Java
// search probes it holds up neither the API nor the exit, and SIGTERM ends the
// probe with everything in its process group.
TEST_F(AgentProcessTest, AJavaThatNeverAnswersTheVersionProbeHoldsUpNeitherTheApiNorTheExit) {
    const std::string jdk = home_.dir().sub("jdk");
    const std::string started = home_.dir().sub("probe-started");
    std::filesystem::create_directories(jdk + "/bin");
    writeStandInJava(jdk + "/bin/java", "exit 0\n",
                     "sleep 1000 &\necho $$ > '" + started + ".tmp' && mv '" + started + ".tmp' '" + started +
                         "'\nwait\n");
    const std::string folder = home_.dir().sub("vat");
    std::filesystem::create_directories(folder);

    AgentProcess agent =
        start({{"JAVA_HOME", jdk}, {"VELK_TEST_CONNECT_TO", "portal.nra.bg:443:127.0.0.1:9"}});
    ASSERT_TRUE(waitUntilServing(agent)) << agent.standardError();
    auto validation = std::async(std::launch::async, [this, &folder] {
        return client().Post("/api/validate", json{{"declarationDir", folder}}.dump(), "application/json");
    });
    ASSERT_TRUE(waitForFile(started)) << "the probe never ran\n" << agent.standardError();
    const pid_t group = std::stoi(readFileText(started));
    const EndGroupOnExit endGroup{group};

    const auto health = client().Get("/api/health");
    ASSERT_TRUE(health) << "the API did not answer while the probe ran";
    EXPECT_EQ(health->status, 200);

    // On a machine slow enough the probe's own time limit may have come
    // first; the search then went on, and the agent still ends in order.
    const bool timeLimitFirst =
        log().find("Java discovery: no answer to -version from ") != std::string::npos;
    agent.signal(SIGTERM);
    EXPECT_EQ(agent.waitForExit(kDeadline), 0) << agent.standardError();
    EXPECT_TRUE(waitUntilGroupGone(group));
    ASSERT_EQ(validation.wait_for(kDeadline), std::future_status::ready);
    const auto answer = validation.get();
    ASSERT_TRUE(answer) << "the validation got no answer";
    const auto all = lines(log());
    if (!timeLimitFirst) {
        EXPECT_EQ(
            json::parse(answer->body),
            json({{"ok", false}, {"errors", {"Агентът се затваря; операцията с Java не беше стартирана."}}}));
        EXPECT_EQ(countContaining(
                      all, "[WARN ] ZezizUR: the agent is shutting down; the search for Java was ended"),
                  1);
    }
    ASSERT_FALSE(all.empty());
    EXPECT_THAT(all.back(), EndsWith("[INFO ] VezoRodarC exiting"));
}

// A program of the same user that connects to the single-instance socket and
// sends a byte now and then does not hold the agent's GUI thread: a start by
// hand that comes after it still gets the window at once, and the agent ends
// in order.
TEST_F(AgentProcessTest, APeerTricklingIntoTheInstanceSocketDoesNotHoldTheAgent) {
    AgentProcess agent = start();
    ASSERT_TRUE(waitUntilServing(agent)) << agent.standardError();

    const std::string name = "VezoRodarC_" + std::to_string(port_);
    // A byte every 450 ms: each comes within the agent's wait for the next,
    // so a per-byte wait would read on for about half a minute.
    const TricklingPeer peer(name, 200);
    ASSERT_TRUE(peer.connected());

    // Connected after the trickling peer, so taken after it.
    AgentProcess byHand = start({}, {});
    ASSERT_EQ(byHand.waitForExit(kDeadline), 0) << byHand.standardError();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);  // generous
    bool shown = false;
    while (!shown && std::chrono::steady_clock::now() < end) {
        shown = log().find("VezoRodarC: a second start asked for the window") != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(shown) << "the agent was still reading the trickling peer";

    agent.signal(SIGTERM);
    EXPECT_EQ(agent.waitForExit(kDeadline), 0) << agent.standardError();
    EXPECT_THAT(log(), EndsWith("[INFO ] VezoRodarC exiting\n"));
}

// A start by hand held up for a second between connecting and sending, as on
// a busy desktop, still gets the window, also while another program trickles
// bytes into the socket ahead of it.
TEST_F(AgentProcessTest, AStartHeldUpBeforeSendingStillGetsTheWindow) {
    AgentProcess agent = start();
    ASSERT_TRUE(waitUntilServing(agent)) << agent.standardError();

    const std::string name = "VezoRodarC_" + std::to_string(port_);
    const TricklingPeer trickling(name, 200);
    ASSERT_TRUE(trickling.connected());
    HeldUpStart heldUp(name, "show", std::chrono::seconds(1));
    ASSERT_TRUE(heldUp.connected());
    EXPECT_TRUE(heldUp.join());
    EXPECT_TRUE(waitForLogLine("VezoRodarC: a second start asked for the window"))
        << "the held-up start was lost";

    agent.signal(SIGTERM);
    EXPECT_EQ(agent.waitForExit(kDeadline), 0) << agent.standardError();
    EXPECT_THAT(log(), EndsWith("[INFO ] VezoRodarC exiting\n"));
}

TEST_F(AgentProcessTest, APortTakenByAnotherProgramLeavesTheAgentRunningWithoutItsApi) {
    const platform::UniqueFd holder(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(holder.get(), 1), 0);

    AgentProcess agent = start();
    EXPECT_TRUE(waitForLogLine("HTTP cannot listen")) << agent.standardError();
    EXPECT_EQ(
        countContaining(lines(log()), "[ERROR] HTTP cannot listen on 127.0.0.1:" + std::to_string(port_)), 1);
    EXPECT_TRUE(agent.running());

    agent.signal(SIGTERM);
    EXPECT_EQ(agent.waitForExit(kDeadline), 0) << agent.standardError();
    EXPECT_THAT(log(), EndsWith("[INFO ] VezoRodarC exiting\n"));
}

TEST_F(AgentProcessTest, RefusesATestPortThatIsNoPortWithoutStarting) {
    for (const char* value : {"0", "65536", "port", "51 23"}) {
        AgentProcess agent = start({{"VELK_TEST_PORT", value}});
        EXPECT_EQ(agent.waitForExit(kDeadline), 2) << value;
        EXPECT_THAT(agent.standardError(), HasSubstr("VELK_TEST_PORT must be a port number")) << value;
    }
    EXPECT_FALSE(std::filesystem::exists(logPath()));
}

}  // namespace
}  // namespace velk::test
