#include "agent/InstanceMessageListener.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/SingleInstance.h"
#include "platform/UniqueFd.h"
#include "support/AbstractSocket.h"
#include "support/HeldUpStart.h"
#include "support/PollUntil.h"
#include "support/TricklingPeer.h"

namespace velk::agent {
namespace {

using namespace std::chrono_literals;

// One turn of the event loop, or a short wait for one.
void turn() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

// True once the holder has closed the peer's connection (end of file, or a
// reset), while the event loop runs.
bool closedByHolder(int fd) {
    char byte = 0;
    const ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

class InstanceMessageListenerTest : public ::testing::Test {
protected:
    InstanceMessageListenerTest()
        : name_("VezoRodarC_listener_" + std::to_string(::getpid()) + "_" +
                testing::UnitTest::GetInstance()->current_test_info()->name()),
          holder_(name_) {}

    void SetUp() override { ASSERT_TRUE(holder_.tryAcquire()); }

    InstanceMessageListener::Handler recorder() {
        return [this](const std::string& message) { messages_.push_back(message); };
    }

    // Runs the event loop until n messages have come.
    bool waitForMessages(std::size_t n) {
        return test::pollUntil([&] { return messages_.size() >= n; }, turn);
    }

    std::string name_;
    platform::SingleInstance holder_;
    std::vector<std::string> messages_;
};

// A start that pauses a second between connecting and sending, as on a busy
// desktop, is still heard, and a start that sends at once as before.
TEST_F(InstanceMessageListenerTest, HearsAStartHeldUpBeforeSending) {
    const InstanceMessageListener listener(holder_, recorder());

    test::HeldUpStart heldUp(name_, "show", 1s);
    ASSERT_TRUE(heldUp.connected());
    ASSERT_TRUE(waitForMessages(1));
    EXPECT_TRUE(heldUp.join());
    EXPECT_EQ(messages_, std::vector<std::string>{"show"});

    ASSERT_TRUE(platform::SingleInstance::sendMessage(name_, std::string(1000, 'x')));
    ASSERT_TRUE(waitForMessages(2));
    EXPECT_EQ(messages_.back(), std::string(InstanceMessageListener::kMaxMessageBytes, 'x'));
}

// A peer that sends a byte now and then holds neither the GUI thread nor the
// starts that come after it. The trickle alone would go on for about a minute
// and a half.
TEST_F(InstanceMessageListenerTest, ATricklingPeerHoldsUpNoLaterStart) {
    const InstanceMessageListener listener(holder_, recorder());
    const test::TricklingPeer trickling(name_, 200);
    ASSERT_TRUE(trickling.connected());

    ASSERT_TRUE(platform::SingleInstance::sendMessage(name_, "show"));
    ASSERT_TRUE(waitForMessages(1)) << "the listener was held by the trickling peer";
    EXPECT_EQ(messages_, std::vector<std::string>{"show"});
}

TEST_F(InstanceMessageListenerTest, APeerThatNeverFinishesIsDroppedAtTheTimeLimit) {
    // The limit is the behaviour here, so it is given; the wait for the drop
    // is not bounded by it.
    const InstanceMessageListener listener(holder_, recorder(), 100ms);
    const platform::UniqueFd stalled = test::connectToAbstractName(name_);
    ASSERT_TRUE(stalled.valid());
    ASSERT_EQ(::send(stalled.get(), "sho", 3, MSG_NOSIGNAL), 3);

    EXPECT_TRUE(test::pollUntil([&] { return closedByHolder(stalled.get()); }, turn))
        << "the holder kept the connection past its time limit";
    for (int i = 0; i < 5; ++i) {
        turn();
    }
    EXPECT_TRUE(messages_.empty()) << messages_.front();
}

// Silent peers beyond the number read at once wait their turn instead of
// costing a descriptor each; none of them is lost.
TEST_F(InstanceMessageListenerTest, ReadsAFewPeersAtOnceAndTheRestInTurn) {
    // A limit no run reaches, so the silent peers stay until they close.
    const InstanceMessageListener listener(holder_, recorder(), std::chrono::minutes(10));
    const std::size_t count = InstanceMessageListener::kMaxPeers + 3;
    std::vector<platform::UniqueFd> silent;
    for (std::size_t i = 0; i < count; ++i) {
        silent.push_back(test::connectToAbstractName(name_));
        ASSERT_TRUE(silent.back().valid()) << i;
    }
    ASSERT_TRUE(
        test::pollUntil([&] { return listener.pendingPeers() == InstanceMessageListener::kMaxPeers; }, turn));
    for (int i = 0; i < 20; ++i) {
        turn();
    }
    EXPECT_EQ(listener.pendingPeers(), InstanceMessageListener::kMaxPeers);

    silent.clear();  // each closes with an empty message
    ASSERT_TRUE(waitForMessages(count));
    EXPECT_EQ(messages_, std::vector<std::string>(count, ""));
    EXPECT_TRUE(test::pollUntil([&] { return listener.pendingPeers() == 0; }, turn));
}

}  // namespace
}  // namespace velk::agent
