// The built agent beside a bare Qt 5 offscreen program with a tray icon
// (bare_tray): the time from start to the first 200 of GET /api/health
// against the bare program's start to its running event loop, and the
// resident memory (VmRSS) of both once idle. Then rounds of load on the
// agent's /api/health and /api/operations, its VmRSS after each: the last
// round against the first shows any growth. Both programs run with
// QT_QPA_PLATFORM=offscreen, the agent in a fresh home on a free port.
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "BenchFiles.h"
#include "BenchProcess.h"
#include "BenchReport.h"
#include "LoadClient.h"
#include "support/FreePort.h"

namespace {

using namespace velk::bench;
using Clock = std::chrono::steady_clock;

constexpr int kStarts = 3;
constexpr int kLoadRounds = 4;
constexpr auto kSettle = std::chrono::seconds(2);
constexpr auto kDeadline = std::chrono::seconds(30);

struct Start {
    double seconds = 0;
    long idleKilobytes = 0;
};

Start startBare() {
    const auto begin = Clock::now();
    BenchProcess bare(VELK_BARE_TRAY_EXE, {{"QT_QPA_PLATFORM", "offscreen"}});
    if (!bare.waitForLine("ready")) {
        throw std::runtime_error("bare_tray did not start");
    }
    Start start{std::chrono::duration<double>(Clock::now() - begin).count(), 0};
    std::this_thread::sleep_for(kSettle);
    start.idleKilobytes = bare.residentKilobytes();
    return start;
}

bool answersHealth(int port) {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(std::chrono::milliseconds(200));
    const auto result = client.Get("/api/health");
    return result && result->status == 200;
}

// Starts the agent, and with it running calls the visitor.
template <typename Visit>
Start startAgent(Visit&& visit) {
    const ScratchDir home("velk-start-bench-");
    const std::string runtime = (home.path() / "runtime").string();
    std::filesystem::create_directories(runtime);
    ::chmod(runtime.c_str(), 0700);
    const int port = velk::test::freePort();
    const auto begin = Clock::now();
    BenchProcess agent(VELK_AGENT_EXE, {{"HOME", home.path().string()},
                                        {"XDG_DATA_HOME", (home.path() / "data").string()},
                                        {"XDG_CONFIG_HOME", (home.path() / "config").string()},
                                        {"XDG_RUNTIME_DIR", runtime},
                                        {"QT_QPA_PLATFORM", "offscreen"},
                                        {"VELK_TEST_PORT", std::to_string(port)}});
    while (!answersHealth(port)) {
        if (Clock::now() - begin > kDeadline) {
            throw std::runtime_error("the agent gave no answer on /api/health");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Start start{std::chrono::duration<double>(Clock::now() - begin).count(), 0};
    std::this_thread::sleep_for(kSettle);
    start.idleKilobytes = agent.residentKilobytes();
    visit(agent, port);
    return start;
}

}  // namespace

int main() {
    Start bare{1e9, 0};
    Start agent{1e9, 0};
    std::vector<long> afterRounds;
    for (int i = 0; i < kStarts; ++i) {
        const Start b = startBare();
        bare.seconds = std::min(bare.seconds, b.seconds);
        bare.idleKilobytes =
            bare.idleKilobytes == 0 ? b.idleKilobytes : std::min(bare.idleKilobytes, b.idleKilobytes);
        const bool last = i + 1 == kStarts;
        const Start a = startAgent([&](const BenchProcess& process, int port) {
            if (!last) {
                return;
            }
            const LoadClient health(port, LoadClient::getRequest("/api/health"));
            const LoadClient operations(port, LoadClient::getRequest("/api/operations"));
            for (int round = 0; round < kLoadRounds; ++round) {
                health.run(32, std::chrono::milliseconds(1000));
                operations.run(32, std::chrono::milliseconds(1000));
                std::this_thread::sleep_for(std::chrono::milliseconds(1500));
                afterRounds.push_back(process.residentKilobytes());
            }
        });
        agent.seconds = std::min(agent.seconds, a.seconds);
        agent.idleKilobytes =
            agent.idleKilobytes == 0 ? a.idleKilobytes : std::min(agent.idleKilobytes, a.idleKilobytes);
    }
    std::printf("start: agent %.3f s, bare %.3f s; idle VmRSS: agent %ld kB, bare %ld kB; after load rounds:",
                agent.seconds, bare.seconds, agent.idleKilobytes, bare.idleKilobytes);
    for (const long kb : afterRounds) {
        std::printf(" %ld", kb);
    }
    std::printf(" kB\n");
    printRow("agent idle VmRSS vs bare Qt tray program", agent.idleKilobytes / 1024.0,
             bare.idleKilobytes / 1024.0, "MB", "<= 1.5");
    printRow("agent start to first answer vs bare Qt start", agent.seconds * 1e3, bare.seconds * 1e3, "ms",
             "<= 1.5");
    if (afterRounds.size() >= 2) {
        printRow("agent VmRSS after last vs first load round", afterRounds.back() / 1024.0,
                 afterRounds.front() / 1024.0, "MB", "<= 1.02");
    }
    return 0;
}
