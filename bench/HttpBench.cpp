// The local API under load beside a bare cpp-httplib server with one route:
// GET /api/health at 4 and 32 kept-open connections against the bare
// server's one route, GET /api/operations and a test-mode run against the
// agent's own /api/health. The server is the real one of app/server with the
// engine and registry, built as the server tests build it; both servers and
// the client set TCP_NODELAY. Each pair is measured in alternation, best of
// three rounds, so that a neighbour's load hits both sides alike.
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "BenchReport.h"
#include "LoadClient.h"
#include "server_http/ServerHarness.h"
#include "support/TokenMinter.h"

namespace {

using velk::bench::LoadClient;
using velk::bench::printRow;

// The same pool and keep-alive settings as the agent's server.
constexpr std::size_t kWorkers = 32;
constexpr int kRounds = 3;

std::chrono::milliseconds roundLength() {
    const char* text = std::getenv("VELK_BENCH_MS");
    return std::chrono::milliseconds(text != nullptr ? std::atoi(text) : 1500);
}

// A bare cpp-httplib server with one route that answers like /api/health.
class BareServer {
public:
    BareServer() {
        server_.set_tcp_nodelay(true);
        server_.set_keep_alive_timeout(1);
        server_.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
        server_.Get("/api/health", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(R"({"status":"ok"})", "application/json; charset=utf-8");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        // Bound already: connections wait in the backlog until it listens.
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~BareServer() {
        server_.stop();
        thread_.join();
    }
    int port() const { return port_; }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

double best(const LoadClient& client, int connections, double current) {
    const auto result = client.run(connections, roundLength());
    if (result.failures > 0) {
        std::fprintf(stderr, "%lld failed answers\n", static_cast<long long>(result.failures));
    }
    return std::max(current, result.requestsPerSecond);
}

}  // namespace

int main() {
    BareServer bare;
    velk::test::ServerHarness agent;
    agent.addSenders({"a"}, "a");
    const velk::test::TokenMinter minter;
    const std::string token = minter.mint({{"test", true}});

    const LoadClient bareHealth(bare.port(), LoadClient::getRequest("/api/health"));
    const LoadClient health(agent.port(), LoadClient::getRequest("/api/health"));
    const LoadClient operations(agent.port(), LoadClient::getRequest("/api/operations"));
    const LoadClient testRun(agent.port(),
                             LoadClient::postRequest("/api/v1/operations/due_amounts", "{}",
                                                     "Authorization: Bearer " + token + "\r\n"));
    for (const auto& answer :
         {agent.get("/api/operations"),
          agent.post("/api/v1/operations/due_amounts", "{}", {{"Authorization", "Bearer " + token}})}) {
        if (answer.status != 200) {
            std::fprintf(stderr, "the agent answered %d: %s\n", answer.status, answer.body.c_str());
            return 1;
        }
    }

    for (const int connections : {4, 32}) {
        double bareRate = 0;
        double healthRate = 0;
        double operationsRate = 0;
        double testRunRate = 0;
        for (int round = 0; round < kRounds; ++round) {
            bareRate = best(bareHealth, connections, bareRate);
            healthRate = best(health, connections, healthRate);
            operationsRate = best(operations, connections, operationsRate);
            testRunRate = best(testRun, connections, testRunRate);
        }
        const std::string at = " @" + std::to_string(connections);
        printRow("http: GET /api/health vs bare httplib" + at, healthRate, bareRate, "req/s", ">= 0.8");
        printRow("http: GET /api/operations vs /api/health" + at, operationsRate, healthRate, "req/s",
                 ">= 0.5");
        printRow("http: test-mode run vs /api/health" + at, testRunRate, healthRate, "req/s", ">= 0.5");
    }
    return 0;
}
