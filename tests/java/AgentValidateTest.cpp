// The built agent's validation route with the stand-in client installed in
// its data folder: the answer is the client's verdict.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "agent_startup/AgentProcess.h"
#include "fakes/agency/JavaClientRoutes.h"
#include "support/FreePort.h"
#include "support/TempDir.h"

namespace velk::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr std::chrono::seconds kDeadline{60};

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
    fs::create_directories(home.sub("runtime"));
    ::chmod(home.sub("runtime").c_str(), 0700);

    const int port = freePort();
    AgentProcess agent(home.str(),
                       {{"HOME", home.str()},
                        {"XDG_DATA_HOME", data},
                        {"XDG_CONFIG_HOME", home.sub("config")},
                        {"XDG_RUNTIME_DIR", home.sub("runtime")},
                        {"QT_QPA_PLATFORM", "offscreen"},
                        {"VELK_TEST_PORT", std::to_string(port)},
                        // Nothing may be downloaded from the real portal.
                        {"VELK_TEST_CONNECT_TO", "portal.nra.bg:443:127.0.0.1:9"},
                        {"JAVA_HOME", fs::canonical(VELK_TEST_JAVA).parent_path().parent_path().string()}});
    httplib::Client http("127.0.0.1", port);
    http.set_connection_timeout(5);
    http.set_read_timeout(120);
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    bool serving = false;
    while (!serving && agent.running() && std::chrono::steady_clock::now() < end) {
        const auto health = http.Get("/api/health");
        serving = health && health->status == 200;
        if (!serving) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ASSERT_TRUE(serving) << agent.standardError();

    const auto answer =
        http.Post("/api/validate", json{{"declarationDir", folder}}.dump(), "application/json");
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->status, 200) << answer->body;
    const json body = json::parse(answer->body);
    EXPECT_EQ(body.at("ok"), false);
    EXPECT_EQ(body.at("errors"), json({"Липсва файл PRODAGBI.TXT", "Ред 7: сумата не съвпада"}))
        << answer->body;

    agent.signal(SIGTERM);
    EXPECT_EQ(agent.waitForExit(kDeadline), 0) << agent.standardError();
}

}  // namespace
}  // namespace velk::test
