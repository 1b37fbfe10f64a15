// The built agent with a FIFO where one of its per-user files belongs: it
// starts, serves and ends in order as without the file, and leaves the FIFO
// as the user made it.
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "agent_startup/AgentProcess.h"
#include "support/FileText.h"
#include "support/FreePort.h"
#include "support/TempDir.h"
#include "support/UnusualFiles.h"

namespace velk::test {
namespace {

using nlohmann::json;
using ::testing::EndsWith;
using ::testing::HasSubstr;

// Generous: the sanitizer build starts slowly.
constexpr std::chrono::seconds kDeadline{60};

constexpr const char* kSenderId = "s-0000000000f1";
constexpr const char* kCertificateId = "CERT-FIFO-1";

bool isFifo(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

struct SpecialFileCase {
    const char* name;
    // Where the FIFO goes: below the data or the configuration folder.
    bool underConfig;
    const char* relativePath;
    // The line of the agent's log that names the file as unusable, around its
    // path; empty when nothing says so beyond standard error.
    const char* loggedBefore;
    const char* loggedAfter;
    // How the agent answers a page that asks it to remember a PIN: it cannot
    // when the PIN file or the protection key is the FIFO.
    int pinAnswer;
};

void PrintTo(const SpecialFileCase& c, std::ostream* os) {
    *os << c.name;
}

class SpecialFileTest : public testing::TestWithParam<SpecialFileCase> {
protected:
    SpecialFileTest() {
        std::filesystem::create_directories(runtimeDir());
        ::chmod(runtimeDir().c_str(), 0700);
    }

    std::string runtimeDir() const { return home_.dir().sub("runtime"); }
    std::string agentFolder() const { return home_.dataHome() + "/VEZORodar"; }
    std::string logPath() const { return agentFolder() + "/Logs/VezoRodarC.log"; }
    std::string fifoPath() const {
        const SpecialFileCase& c = GetParam();
        return (c.underConfig ? home_.configHome() : home_.dataHome()) + "/" + c.relativePath;
    }

    // A sender whose certificate has a remembered PIN, so that start-up reads
    // the PIN file and, to open the PIN, the protection key.
    void writeSenderWithPin() const {
        std::filesystem::create_directories(agentFolder());
        const json settings = {{"schemaVersion", 2},
                               {"activeSenderId", kSenderId},
                               {"senders",
                                {{{"id", kSenderId},
                                  {"displayName", "Фирма"},
                                  {"identifier", "8001010000"},
                                  {"identifierType", "IND_EGN"},
                                  {"certificateId", kCertificateId},
                                  {"signerEmail", ""},
                                  {"apiKey", ""}}}}};
        writeFileText(agentFolder() + "/settings.json", settings.dump(2));
        // A blob of the protection's shape that no key opens: enough to make
        // start-up read the key.
        const std::string blob = "VkRQMQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";
        writeFileText(agentFolder() + "/pins.dat", json{{kCertificateId, blob}}.dump());
    }

    AgentProcess start() const {
        return AgentProcess(home_.dir().str(), {{"HOME", home_.dir().str()},
                                                {"XDG_DATA_HOME", home_.dataHome()},
                                                {"XDG_CONFIG_HOME", home_.configHome()},
                                                {"XDG_RUNTIME_DIR", runtimeDir()},
                                                {"QT_QPA_PLATFORM", "offscreen"},
                                                {"VELK_TEST_PORT", std::to_string(port_)}});
    }

    httplib::Client client() const {
        httplib::Client http("127.0.0.1", port_);
        http.set_connection_timeout(5);
        http.set_read_timeout(60);
        return http;
    }

    // An agent held by a FIFO never answers: the deadline ends the wait.
    bool waitUntilHealthy(AgentProcess& agent) const { return agent.waitUntilServing(port_, kDeadline); }

    IsolatedHome home_;
    const int port_ = freePort();
};

TEST_P(SpecialFileTest, AgentServesAndEndsInOrderAndLeavesTheFifo) {
    writeSenderWithPin();
    const std::string fifo = fifoPath();
    if (std::filesystem::exists(fifo)) {
        std::filesystem::remove(fifo);
    }
    makeFifo(fifo);

    AgentProcess agent = start();
    ASSERT_TRUE(waitUntilHealthy(agent)) << agent.standardError();
    const auto health = client().Get("/api/health");
    ASSERT_TRUE(health);
    EXPECT_EQ(json::parse(health->body).at("status"), "ok");
    const auto pin =
        client().Post("/api/certificates/CERT-FIFO-2/pin", R"({"pin":"4711"})", "application/json");
    ASSERT_TRUE(pin);
    EXPECT_EQ(pin->status, GetParam().pinAnswer) << pin->body;

    agent.signal(SIGTERM);
    ASSERT_EQ(agent.waitForExit(kDeadline), 0) << agent.standardError();

    // Every log line goes to standard error too, also when the log file is
    // the FIFO and cannot be written.
    const std::string err = agent.standardError();
    EXPECT_THAT(err, EndsWith("[INFO ] VezoRodarC exiting\n"));
    EXPECT_THAT(err, HasSubstr("[INFO ] VezoRodarC: SIGTERM received"));
    if (!isFifo(logPath())) {
        EXPECT_THAT(readFileText(logPath()), EndsWith("[INFO ] VezoRodarC exiting\n"));
    }
    if (*GetParam().loggedBefore != '\0') {
        EXPECT_THAT(err, HasSubstr(GetParam().loggedBefore + fifo + GetParam().loggedAfter));
    }

    // Neither renamed nor replaced.
    EXPECT_TRUE(isFifo(fifo));
    for (const char* suffix : {".bad", ".1"}) {
        EXPECT_FALSE(std::filesystem::exists(fifo + suffix)) << suffix;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, SpecialFileTest,
    testing::Values(SpecialFileCase{"Settings", false, "VEZORodar/settings.json",
                                    "[WARN ] FileSettings::reload: cannot read ", ": not a regular file",
                                    204},
                    SpecialFileCase{"Pins", false, "VEZORodar/pins.dat", "[WARN ] PinStore: cannot read ",
                                    ": not a regular file", 500},
                    SpecialFileCase{"MimeApps", true, "mimeapps.list",
                                    "[ERROR] ProtocolHandler::registerHandler: cannot write ",
                                    " → not a regular file", 204},
                    SpecialFileCase{"ProtectionKey", true, "VEZORodar/protect.key", "", "", 500},
                    SpecialFileCase{"Log", false, "VEZORodar/Logs/VezoRodarC.log", "", "", 204}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velk::test
