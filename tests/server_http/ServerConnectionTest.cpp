#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/TestOperations.h"
#include "server_http/RawHttp.h"
#include "server_http/ServerHarness.h"

namespace velk::test {
namespace {

using namespace std::chrono_literals;

// More than the library's own pool on machines of up to 17 cores: its
// default is max(8, cores - 1) workers.
constexpr int kHeldConnections = 16;
// Rounds in which the server, on a busy machine, closed an idle connection
// before the probe had its answer, so that the round shows nothing.
constexpr int kIdleRounds = 10;

std::string get(const std::string& path) {
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

// The server's ends of its open connections, found among this process's
// descriptors: local port the server's, with a peer.
std::vector<int> serverSideSockets(int serverPort) {
    std::vector<int> sockets;
    for (int fd = 0; fd < 1024; ++fd) {
        sockaddr_in local{};
        sockaddr_in peer{};
        socklen_t localLength = sizeof(local);
        socklen_t peerLength = sizeof(peer);
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) == 0 &&
            local.sin_family == AF_INET && ntohs(local.sin_port) == serverPort &&
            ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0) {
            sockets.push_back(fd);
        }
    }
    return sockets;
}

class ServerConnectionTest : public ::testing::Test {
protected:
    ServerConnectionTest() { harness.addSenders({"a"}, "a"); }

    // An answer on a new connection, however long it takes: what held it up
    // is told by what the server did before answering.
    RawAnswer probe() {
        RawConnection connection(harness.port());
        connection.send(get("/api/health"));
        return connection.readAnswer();
    }

    ServerHarness harness;
};

// Browsers keep up to six connections per host open after their requests;
// several browsers or profiles hold more.
TEST_F(ServerConnectionTest, IdleKeptOpenConnectionsDoNotHoldUpOthers) {
    // A server whose workers all wait on idle connections answers the probe
    // only once it has closed one of them.
    int inconclusive = 0;
    for (int round = 0; round < kIdleRounds; ++round) {
        // Opened one at a time, as the server's listen queue is short...
        std::vector<std::unique_ptr<RawConnection>> idle;
        for (int i = 0; i < kHeldConnections; ++i) {
            idle.push_back(std::make_unique<RawConnection>(harness.port()));
            idle.back()->send(get("/api/info"));
            ASSERT_EQ(idle.back()->readAnswer().status, 200);
        }
        // ...then used once more all together, so that they all go idle at
        // nearly the same moment, just before the probe.
        for (const auto& connection : idle) {
            connection->send(get("/api/info"));
        }
        bool allAnswered = true;
        for (const auto& connection : idle) {
            allAnswered = connection->readAnswer().status == 200 && allAnswered;
        }
        ASSERT_EQ(probe().status, 200);
        const bool noneClosed = std::none_of(
            idle.begin(), idle.end(), [](const auto& connection) { return connection->closedByServer(); });
        if (allAnswered && noneClosed) {
            return;
        }
        ++inconclusive;
    }
    ADD_FAILURE() << "in each of " << inconclusive
                  << " rounds the probe was answered only after an idle connection had been closed";
}

TEST_F(ServerConnectionTest, RequestsInProgressDoNotHoldUpOthers) {
    gate().reset();
    std::vector<std::unique_ptr<RawConnection>> running;
    for (int i = 0; i < kHeldConnections; ++i) {
        running.push_back(std::make_unique<RawConnection>(harness.port()));
        running.back()->send(
            "POST /api/v1/operations/" + std::string(kGateOp) +
            " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Velk-Sender-Id: a\r\nContent-Length: 2\r\n\r\n{}");
    }
    ASSERT_TRUE(gate().waitForArrivals(1)) << "the run never reached the gate";
    const RawAnswer answer = probe();
    EXPECT_EQ(gate().passedUnopened(), 0) << "the probe was answered only once held runs had given up";
    gate().open();
    EXPECT_EQ(answer.status, 200);
    for (const auto& connection : running) {
        EXPECT_EQ(connection->readAnswer().status, 200);
    }
}

// Idle connections are closed soon, so that shut-down does not wait on them:
// the server says so, and does it.
TEST_F(ServerConnectionTest, KeptOpenConnectionsIdleOnlyBriefly) {
    RawConnection connection(harness.port());
    connection.send(get("/api/health"));
    const RawAnswer answer = connection.readAnswer();
    ASSERT_EQ(answer.status, 200);
    const std::string keepAlive = answer.header("keep-alive");
    ASSERT_TRUE(keepAlive.starts_with("timeout=")) << keepAlive;
    const int seconds = std::stoi(keepAlive.substr(8));
    EXPECT_GE(seconds, 1);
    EXPECT_LE(seconds, 2);
    EXPECT_TRUE(connection.waitForClose(60s)) << "the server kept an idle connection open";
}

// The library writes an answer's head and body apart: with Nagle's algorithm
// on, every later answer on a kept-open connection waits for a delayed ACK.
TEST_F(ServerConnectionTest, AnswersAreNotDelayedByNagle) {
    RawConnection connection(harness.port());
    connection.send(get("/api/health"));
    ASSERT_EQ(connection.readAnswer().status, 200);

    const std::vector<int> sockets = serverSideSockets(harness.port());
    ASSERT_FALSE(sockets.empty());
    for (const int fd : sockets) {
        int noDelay = 0;
        socklen_t length = sizeof(noDelay);
        ASSERT_EQ(::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, &length), 0);
        EXPECT_NE(noDelay, 0) << "socket " << fd;
    }
}

}  // namespace
}  // namespace velk::test
