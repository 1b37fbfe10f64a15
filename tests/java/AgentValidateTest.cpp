// The built agent's validation route with the stand-in client installed in
// its data folder: the answer is the client's verdict.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "agent_startup/AgentProcess.h"
#include "fakes/LoopbackHosts.h"
#include "fakes/agency/FakeAgency.h"
#include "fakes/agency/JavaClientRoutes.h"
#include "java/ChildScripts.h"
#include "support/FileText.h"
#include "support/FreePort.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace velk::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr std::chrono::seconds kDeadline{60};

// The built agent with its folders below home, its data folder at data and
// its local API on port; extra adds the test's own seams and Java.
std::map<std::string, std::string> agentEnvironment(const TempDir& home, const std::string& data, int port,
                                                    const std::map<std::string, std::string>& extra) {
    fs::create_directories(home.sub("runtime"));
    ::chmod(home.sub("runtime").c_str(), 0700);
    std::map<std::string, std::string> env = {{"HOME", home.str()},
                                              {"XDG_DATA_HOME", data},
                                              {"XDG_CONFIG_HOME", home.sub("config")},
                                              {"XDG_RUNTIME_DIR", home.sub("runtime")},
                                              {"QT_QPA_PLATFORM", "offscreen"},
                                              {"VELK_TEST_PORT", std::to_string(port)}};
    env.insert(extra.begin(), extra.end());
    return env;
}

// The validation route's answer for folder.
httplib::Result validate(int port, const std::string& folder) {
    httplib::Client http("127.0.0.1", port);
    http.set_connection_timeout(5);
    http.set_read_timeout(120);
    return http.Post("/api/validate", json{{"declarationDir", folder}}.dump(), "application/json");
}

TEST(AgentValidateTest, TheValidationRouteAnswersTheInstalledClientsVerdict) {
    const TempDir home;
    const std::string data = home.sub("data");
    const std::string client = data + "/VEZORodar/ZezizUR";
    fs::create_directories(client + "/native");
    for (const char* jar : {"VATClientService.jar", "SignerService.jar", "LSManager.jar"}) {
        fs::copy_file(JavaClientRoutes::clientDir() + "/" + jar, client + "/" + jar);
    }
    std::ofstream(client + "/native/vatclient.dll") << "stand-in";
    const std::string folder = home.sub("vat");
    fs::create_directories(folder);
    std::ofstream(folder + "/DEKLAR.TXT") << "deklar";
    std::ofstream(folder + "/POKUPKI.TXT") << "pokupki";
    std::ofstream(folder + "/STANDIN-ERRORS.TXT") << "Ред 7: сумата не съвпада\n";

    const int port = freePort();
    AgentProcess agent(
        home.str(), agentEnvironment(
                        home, data, port,
                        {// Nothing may be downloaded from the real portal.
                         {"VELK_TEST_CONNECT_TO", "portal.nra.bg:443:127.0.0.1:9"},
                         {"JAVA_HOME", fs::canonical(VELK_TEST_JAVA).parent_path().parent_path().string()}}));
    ASSERT_TRUE(agent.waitUntilServing(port, kDeadline)) << agent.standardError();

    const auto answer = validate(port, folder);
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->status, 200) << answer->body;
    const json body = json::parse(answer->body);
    EXPECT_EQ(body.at("ok"), false);
    EXPECT_EQ(body.at("errors"), json({"Липсва файл PRODAGBI.TXT", "Ред 7: сумата не съвпада"}))
        << answer->body;

    agent.signal(SIGTERM);
    EXPECT_EQ(agent.waitForExit(kDeadline), 0) << agent.standardError();
}

// The built agent installing the client from the portal into a data folder
// whose path holds a line separator, a line feed and a stray byte, from a
// manifest whose hrefs hold the same: every line of its log file is one
// record.
TEST(AgentValidateTest, AnInstallationFromStrangePathsAndHrefsKeepsTheLogOneRecordALine) {
    const TempDir home;
    LoopbackHosts hosts;
    FakeAgency agency(hosts);
    const std::string forged = "2026-01-01 00:00:00 [ERROR] forged";
    std::string manifest = JavaClientRoutes::manifest();
    const std::string lastJar = "<jar href=\"LSManager.jar\"/>";
    manifest.insert(manifest.find(lastJar) + lastJar.size(),
                    "<jar href=\"a\xE2\x80\xA8" + forged + ".jar\"/><jar href=\"b\n" + forged + ".jar\"/>");
    agency.portal().on("GET", "/ls/java/zezizurls-vat.jnlp", Reply::text(200, manifest));

    const std::string data = home.sub("da\xE2\x80\xA8[ERROR] forged\n[ERROR] forged\xFF");
    fs::create_directories(home.sub("jdk/bin"));
    writeStandInJava(home.sub("jdk/bin/java"), "IFS= read -r line\nexit 0\n");
    const std::string folder = home.sub("vat");
    fs::create_directories(folder);
    for (const char* name : {"DEKLAR.TXT", "POKUPKI.TXT", "PRODAGBI.TXT"}) {
        std::ofstream(folder + "/" + name) << "file";
    }

    const int port = freePort();
    AgentProcess agent(home.str(), agentEnvironment(home, data, port,
                                                    {{"VELK_TEST_CONNECT_TO", hosts.connectToEntries()},
                                                     {"VELK_TEST_CA_FILE", hosts.caFile()},
                                                     {"JAVA_HOME", home.sub("jdk")}}));
    ASSERT_TRUE(agent.waitUntilServing(port, kDeadline)) << agent.standardError();

    const auto answer = validate(port, folder);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_EQ(json::parse(answer->body), json({{"ok", true}, {"errors", json::array()}})) << answer->body;
    agent.signal(SIGTERM);
    EXPECT_EQ(agent.waitForExit(kDeadline), 0) << agent.standardError();

    const std::vector<std::string> logLines = lines(readFileText(data + "/VEZORodar/Logs/VezoRodarC.log"));
    for (const std::string& line : logLines) {
        EXPECT_TRUE(isOneLogRecord(line)) << line;
    }
    const auto logged = [&logLines](const std::string& text) {
        return std::count_if(logLines.begin(), logLines.end(), [&text](const std::string& line) {
            return line.find(text) != std::string::npos;
        });
    };
    const std::string shownData = "da\\u2028[ERROR] forged\\x0A[ERROR] forged\\xFF";
    EXPECT_EQ(logged("JnlpDownloader: wrote "), 1);
    EXPECT_EQ(logged(shownData + "/VEZORodar/ZezizUR/native/vatclient.dll"), 2);  // missing, then written
    EXPECT_EQ(logged("  jar href=b\\x0A" + forged + ".jar"), 1);
    ASSERT_FALSE(logLines.empty());
    EXPECT_NE(logLines.back().find("[INFO ] VezoRodarC exiting"), std::string::npos);
}

}  // namespace
}  // namespace velk::test
