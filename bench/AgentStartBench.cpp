// The built agent beside a bare Qt 5 offscreen program with a tray icon
// (bare_tray): the time from start to the first 200 of GET /api/health
// against the bare program's start to its running event loop, and the
// resident memory (VmRSS) of both once idle. The agent starts as it does at
// login: "--silent", one sender set up, no window, in a home it has run in
// before. Then rounds of load on its /api/health and /api/operations, its
// VmRSS after each: the last round against the first shows any growth.
// Without goals, for context: the first run (a fresh home without senders,
// so the window is made and shown), and the bare program with every library
// the agent maps preloaded, the part of the agent's cost that comes with the
// libraries it is built on. Every program runs with QT_QPA_PLATFORM=offscreen,
// the agent on a free port.
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
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

Start startBare(const std::string& preload = "") {
    std::vector<std::pair<std::string, std::string>> env{{"QT_QPA_PLATFORM", "offscreen"}};
    if (!preload.empty()) {
        env.emplace_back("LD_PRELOAD", preload);
    }
    const auto begin = Clock::now();
    BenchProcess bare(VELK_BARE_TRAY_EXE, env);
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

void waitForHealth(int port, Clock::time_point begin) {
    while (!answersHealth(port)) {
        if (Clock::now() - begin > kDeadline) {
            throw std::runtime_error("the agent gave no answer on /api/health");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

enum class Launch { AtLogin, FirstRun };

// One sender, as a user has after setting the agent up.
void writeOneSender(const std::filesystem::path& dataHome) {
    const auto folder = dataHome / "VEZORodar";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "settings.json")
        << R"({"schemaVersion": 2, "activeSenderId": "s1", "senders": [{"id": "s1", "displayName": "Фирма",)"
           R"( "identifier": "123456789", "identifierType": "BUS_BULSTAT", "certificateId": "",)"
           R"( "signerEmail": "", "apiKey": ""}]})";
}

// Starts the agent, and with it running calls the visitor.
template <typename Visit>
Start startAgent(Launch launch, Visit&& visit) {
    const ScratchDir home("velk-start-bench-");
    const std::string runtime = (home.path() / "runtime").string();
    std::filesystem::create_directories(runtime);
    ::chmod(runtime.c_str(), 0700);
    std::vector<std::string> args;
    if (launch == Launch::AtLogin) {
        writeOneSender(home.path() / "data");
        args.emplace_back("--silent");
    }
    const int port = velk::test::freePort();
    const std::vector<std::pair<std::string, std::string>> env{
        {"HOME", home.path().string()},
        {"XDG_DATA_HOME", (home.path() / "data").string()},
        {"XDG_CONFIG_HOME", (home.path() / "config").string()},
        {"XDG_RUNTIME_DIR", runtime},
        {"QT_QPA_PLATFORM", "offscreen"},
        {"VELK_TEST_PORT", std::to_string(port)}};
    if (launch == Launch::AtLogin) {
        // At login the agent has run before: its link handler is registered.
        const BenchProcess earlier(VELK_AGENT_EXE, env, args);
        waitForHealth(port, Clock::now());
    }
    const auto begin = Clock::now();
    BenchProcess agent(VELK_AGENT_EXE, env, args);
    waitForHealth(port, begin);
    Start start{std::chrono::duration<double>(Clock::now() - begin).count(), 0};
    std::this_thread::sleep_for(kSettle);
    start.idleKilobytes = agent.residentKilobytes();
    visit(agent, port);
    return start;
}

// The best of several starts: the least time and the least memory.
void keepBest(Start& best, const Start& next) {
    best.seconds = std::min(best.seconds, next.seconds);
    best.idleKilobytes =
        best.idleKilobytes == 0 ? next.idleKilobytes : std::min(best.idleKilobytes, next.idleKilobytes);
}

// The libraries the agent maps that the bare program does not, Qt's plugins
// aside (both load those as they need them), as an LD_PRELOAD list.
std::string librariesOnlyTheAgentMaps(const std::vector<std::string>& agent,
                                      const std::vector<std::string>& bare) {
    std::string list;
    for (const auto& path : agent) {
        if (path.find("/plugins/") != std::string::npos || path == VELK_AGENT_EXE ||
            std::find(bare.begin(), bare.end(), path) != bare.end()) {
            continue;
        }
        list += (list.empty() ? "" : ":") + path;
    }
    return list;
}

void printStartRows(const std::string& what, const Start& agent, const Start& bare, const std::string& goal) {
    printRow(what + " idle VmRSS vs bare Qt tray program", agent.idleKilobytes / 1024.0,
             bare.idleKilobytes / 1024.0, "MB", goal);
    printRow(what + " start to first answer vs bare Qt start", agent.seconds * 1e3, bare.seconds * 1e3, "ms",
             goal);
}

}  // namespace

int main() {
    Start bare{1e9, 0};
    Start atLogin{1e9, 0};
    Start firstRun{1e9, 0};
    Start bareWithLibraries{1e9, 0};
    std::vector<long> afterRounds;
    std::vector<long> threadsAfterRounds;
    std::vector<std::string> agentLibraries;
    std::vector<std::string> bareLibraries;
    {
        BenchProcess probe(VELK_BARE_TRAY_EXE, {{"QT_QPA_PLATFORM", "offscreen"}});
        if (probe.waitForLine("ready")) {
            bareLibraries = probe.mappedLibraries();
        }
    }
    for (int i = 0; i < kStarts; ++i) {
        keepBest(bare, startBare());
        const bool last = i + 1 == kStarts;
        keepBest(atLogin, startAgent(Launch::AtLogin, [&](const BenchProcess& process, int port) {
                     if (!last) {
                         return;
                     }
                     agentLibraries = process.mappedLibraries();
                     const LoadClient health(port, LoadClient::getRequest("/api/health"));
                     const LoadClient operations(port, LoadClient::getRequest("/api/operations"));
                     // The first round is not counted: the server starts its
                     // workers as callers come, and this is when it does.
                     for (int round = 0; round <= kLoadRounds; ++round) {
                         health.run(32, std::chrono::milliseconds(1000));
                         operations.run(32, std::chrono::milliseconds(1000));
                         std::this_thread::sleep_for(std::chrono::milliseconds(1500));
                         if (round > 0) {
                             afterRounds.push_back(process.residentKilobytes());
                             threadsAfterRounds.push_back(process.threadCount());
                         }
                     }
                 }));
        keepBest(firstRun, startAgent(Launch::FirstRun, [](const BenchProcess&, int) {}));
    }
    const std::string preload = librariesOnlyTheAgentMaps(agentLibraries, bareLibraries);
    for (int i = 0; i < kStarts; ++i) {
        keepBest(bareWithLibraries, startBare(preload));
    }

    std::printf(
        "start: agent %.3f s (first run %.3f s), bare %.3f s (with the agent's libraries %.3f s); idle "
        "VmRSS: agent %ld kB (first run %ld kB), bare %ld kB (with the agent's libraries %ld kB); after "
        "load rounds:",
        atLogin.seconds, firstRun.seconds, bare.seconds, bareWithLibraries.seconds, atLogin.idleKilobytes,
        firstRun.idleKilobytes, bare.idleKilobytes, bareWithLibraries.idleKilobytes);
    for (const long kb : afterRounds) {
        std::printf(" %ld", kb);
    }
    std::printf(" kB; threads:");
    for (const long threads : threadsAfterRounds) {
        std::printf(" %ld", threads);
    }
    std::printf("\nlibraries only the agent maps: %s\n", preload.c_str());
    printStartRows("agent at login", atLogin, bare, "<= 1.5");
    if (afterRounds.size() >= 2) {
        printRow("agent VmRSS after last vs first load round", afterRounds.back() / 1024.0,
                 afterRounds.front() / 1024.0, "MB", "<= 1.02");
    }
    printStartRows("agent first run (window shown)", firstRun, bare, "");
    printStartRows("bare Qt tray with the agent's libraries", bareWithLibraries, bare, "");
    return 0;
}
