#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "platform/InstanceMessage.h"
#include "support/ChildProcess.h"
#include "support/PollUntil.h"
#include "support/TricklingPeer.h"

namespace velk::platform {
namespace {

// A name of this test process alone, so parallel runs and a running agent
// never meet.
std::string uniqueName() {
    return "VezoRodarC_test_" + std::to_string(::getpid()) + "_" +
           testing::UnitTest::GetInstance()->current_test_info()->name();
}

TEST(SingleInstanceTest, NameFollowsThePort) {
    EXPECT_EQ(SingleInstance::nameForPort(5123), "VezoRodarC_5123");
    EXPECT_EQ(SingleInstance::nameForPort(40001), "VezoRodarC_40001");
}

TEST(SingleInstanceTest, OneHolderPerNameUntilItGoes) {
    const std::string name = uniqueName();
    auto first = std::make_unique<SingleInstance>(name);
    ASSERT_TRUE(first->tryAcquire());
    EXPECT_TRUE(first->tryAcquire());  // holding it already
    EXPECT_FALSE(SingleInstance(name).tryAcquire());
    EXPECT_TRUE(SingleInstance(name + "_other").tryAcquire());
    first.reset();
    EXPECT_TRUE(SingleInstance(name).tryAcquire());
}

TEST(SingleInstanceTest, AnotherProcessCannotTakeIt) {
    const std::string name = uniqueName();
    SingleInstance held(name);
    ASSERT_TRUE(held.tryAcquire());
    EXPECT_EQ(test::runInChild([&] { return SingleInstance(name).tryAcquire() ? 1 : 0; }), 0);
}

TEST(SingleInstanceTest, FreedWhenTheHoldingProcessDies) {
    const std::string name = uniqueName();
    // The child takes the name and is killed without any clean-up.
    EXPECT_EQ(test::runInChild([&] {
                  static SingleInstance guard(name);
                  if (!guard.tryAcquire()) {
                      return 1;
                  }
                  ::raise(SIGKILL);
                  return 2;
              }),
              -SIGKILL);
    EXPECT_TRUE(SingleInstance(name).tryAcquire());
}

// The next waiting message, read to its end as the holder does, between
// waits for more bytes; none when no connection waits.
std::optional<std::string> receive(SingleInstance& holder, std::size_t maxBytes = 64) {
    UniqueFd peer = holder.acceptPeer();
    if (!peer.valid()) {
        return std::nullopt;
    }
    InstanceMessage message(std::move(peer), maxBytes);
    const bool ended =
        test::pollUntil([&] { return message.readAvailable() != InstanceMessage::State::Reading; },
                        [&] {
                            pollfd entry{message.fd(), POLLIN, 0};
                            ::poll(&entry, 1, 100);
                        });
    EXPECT_TRUE(ended) << "the message never ended";
    return message.text();
}

TEST(SingleInstanceTest, TheHolderTakesShortMessagesFromLaterStarts) {
    const std::string name = uniqueName();
    EXPECT_FALSE(SingleInstance::sendMessage(name, "show"));  // nobody holds it

    SingleInstance holder(name);
    ASSERT_TRUE(holder.tryAcquire());
    ASSERT_GE(holder.messageFd(), 0);
    EXPECT_FALSE(holder.acceptPeer().valid());  // nothing waiting: no wait either

    EXPECT_EQ(test::runInChild([&] { return SingleInstance::sendMessage(name, "show") ? 0 : 1; }), 0);
    EXPECT_EQ(receive(holder), "show");

    // A long message is cut where the holder stops reading.
    ASSERT_TRUE(SingleInstance::sendMessage(name, std::string(1000, 'x')));
    EXPECT_EQ(receive(holder, 16), std::string(16, 'x'));
    EXPECT_EQ(receive(holder), std::nullopt);
}

// A program of the same user that connects and then sends a byte now and
// then must not hold the holder, which reads on the GUI thread: taking the
// connection and reading what has come return at once, whatever the peer
// does. (Run in a child, so a read that waits fails at the deadline; the
// trickle alone would go on for about a minute and a half.)
TEST(SingleInstanceTest, ATricklingPeerDoesNotHoldTheHolder) {
    const std::string name = uniqueName();
    SingleInstance holder(name);
    ASSERT_TRUE(holder.tryAcquire());

    test::TricklingPeer peer(name, 200);
    ASSERT_TRUE(peer.connected());
    const test::ChildOutput out = test::runInChildForText([&] {
        pollfd entry{holder.messageFd(), POLLIN, 0};
        ::poll(&entry, 1, -1);  // the connection is waiting already
        InstanceMessage message(holder.acceptPeer(), 64);
        const auto state = message.readAvailable();
        return std::string(state == InstanceMessage::State::Reading ? "reading:" : "ended:") + message.text();
    });
    peer.stop();

    EXPECT_EQ(out.end, 0);
    EXPECT_EQ(out.text.rfind("reading:", 0), 0u) << out.text;
    EXPECT_LT(out.text.size(), std::string("reading:").size() + 64);
}

TEST(SingleInstanceTest, AProgramStartedByTheHolderDoesNotKeepIt) {
    const std::string name = uniqueName();
    auto guard = std::make_unique<SingleInstance>(name);
    ASSERT_TRUE(guard->tryAcquire());

    // The pipe's write end closes at exec, so end of file on it tells us the
    // child runs the new program.
    int execSeen[2];
    ASSERT_EQ(::pipe2(execSeen, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execl("/bin/sleep", "sleep", "600", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(execSeen[1]);
    char byte = 0;
    while (::read(execSeen[0], &byte, 1) > 0) {
    }
    ::close(execSeen[0]);

    guard.reset();
    EXPECT_TRUE(SingleInstance(name).tryAcquire());
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

}  // namespace
}  // namespace velk::platform
