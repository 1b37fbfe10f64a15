#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/InMemorySettings.h"
#include "engine/TestOperations.h"
#include "engine/VelkEngine.h"
#include "server/HttpServer.h"
#include "server_http/RawHttp.h"
#include "server_http/ScriptedSenderPicker.h"
#include "server_http/ServerHarness.h"
#include "support/LogCapture.h"

namespace velk::test {
namespace {

const std::string kEchoPath = std::string("/api/v1/operations/") + kEchoOp;

std::unique_ptr<server::HttpServer> serverOn(core::VelkEngine& engine, int port) {
    return std::make_unique<server::HttpServer>(&engine, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                port);
}

bool connects(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return ok;
}

class ServerLifecycleTest : public ::testing::Test {
protected:
    core::VelkEngine engine{std::make_unique<InMemorySettings>()};
};

TEST_F(ServerLifecycleTest, StartsOnAPortOfTheSystemsChoiceAndStopsOnce) {
    LogCapture log;
    auto server = serverOn(engine, 0);
    server->stop();  // before start: nothing to do, and no start after it
    EXPECT_FALSE(server->start());

    server = serverOn(engine, 0);
    ASSERT_TRUE(server->start());
    EXPECT_FALSE(server->start());
    const int port = server->port();
    ASSERT_GT(port, 0);
    EXPECT_TRUE(connects(port));
    server->stop();
    server->stop();
    EXPECT_FALSE(connects(port));
    server.reset();

    EXPECT_EQ(log.count("INFO", "HTTP listening on 127.0.0.1:" + std::to_string(port)), 1);
    EXPECT_EQ(log.count("INFO", "HTTP listener exited"), 1);
}

TEST_F(ServerLifecycleTest, RefusesAPortThatIsTaken) {
    auto first = serverOn(engine, 0);
    ASSERT_TRUE(first->start());
    const int port = first->port();

    LogCapture log;
    auto second = serverOn(engine, port);
    EXPECT_FALSE(second->start());
    EXPECT_EQ(log.count("ERROR", "HTTP cannot listen on 127.0.0.1:" + std::to_string(port)), 1);
    EXPECT_EQ(log.count("INFO", "HTTP listening"), 0);

    // The first one still answers every request.
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(rawExchange(port, "GET /api/operations HTTP/1.1\r\nConnection: close\r\n\r\n").status, 200);
    }
    second.reset();

    // Taken by a program that is not a server of ours.
    first.reset();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(fd, 1), 0);
    EXPECT_FALSE(serverOn(engine, port)->start());
    ::close(fd);
}

// A route may stop the server: the joining happens on a helper thread, the
// request still gets its answer.
TEST(ServerStopTest, StopFromARouteAnswersThenStops) {
    ScriptedSenderPicker picker;
    ServerHarness harness(ServerHarness::Options{&picker, true});
    harness.addSenders({"a", "b"}, "a");
    picker.onPick = [&] { harness.server().stop(); };
    const Answer answer = harness.post(kEchoPath, "{}");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json().at("errorMessage"), "Изборът на подател беше отказан.");
    harness.server().stop();
    EXPECT_FALSE(connects(harness.port()));
}

// A dialog that never comes (the GUI thread no longer runs its events) does
// not hold up the stop: the waiting request gets the cancelled answer.
TEST(ServerStopTest, StopEndsTheWaitForADialog) {
    std::mutex mutex;
    std::condition_variable posted;
    std::vector<std::function<void()>> neverRun;
    ScriptedSenderPicker picker([&](std::function<void()> task) {
        std::lock_guard lock(mutex);
        neverRun.push_back(std::move(task));
        posted.notify_all();
    });
    ServerHarness harness(ServerHarness::Options{&picker, true});
    harness.addSenders({"a", "b"}, "a");

    Answer answer;
    std::thread client([&] { answer = harness.post(kEchoPath, "{}"); });
    {
        std::unique_lock lock(mutex);
        if (!posted.wait_for(lock, std::chrono::seconds(60), [&] { return !neverRun.empty(); })) {
            ADD_FAILURE() << "the sender picker was never posted";
        }
    }
    harness.server().stop();
    client.join();
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json().at("errorMessage"), "Изборът на подател беше отказан.");
    EXPECT_TRUE(picker.calls().empty());

    // The dialog that finally runs late shows nothing.
    for (auto& task : neverRun) {
        task();
    }
    EXPECT_TRUE(picker.calls().empty());
}

}  // namespace
}  // namespace velk::test
