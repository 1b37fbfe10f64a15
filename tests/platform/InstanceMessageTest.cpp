#include "platform/InstanceMessage.h"

#include <sys/socket.h>

#include <cstddef>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "support/ChildProcess.h"

namespace velk::platform {
namespace {

using State = InstanceMessage::State;

// A connected pair of local stream sockets: the reader's end goes to the
// message, the other end plays the later start.
struct Connection {
    Connection() {
        int ends[2] = {-1, -1};
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        reader = UniqueFd(ends[0]);
        writer = UniqueFd(ends[1]);
    }
    void send(const std::string& bytes) const {
        ASSERT_EQ(::send(writer.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }

    UniqueFd reader;
    UniqueFd writer;
};

struct MessageCase {
    const char* name;
    std::string sent;
    bool closed;  // the sender closes its end after sending
    std::size_t maxBytes;
    State state;
    std::string text;
};

void PrintTo(const MessageCase& c, std::ostream* out) {
    *out << c.name;
}

class InstanceMessageTest : public ::testing::TestWithParam<MessageCase> {};

// Whatever the sender does, one read takes what is there and returns: a
// message is whole at the sender's close or at the size limit, and anything
// else is still being read.
TEST_P(InstanceMessageTest, TakesWhatHasArrivedWithoutWaiting) {
    const MessageCase& c = GetParam();
    Connection connection;
    connection.send(c.sent);
    if (c.closed) {
        connection.writer.reset();
    }
    // Read in a child, so a read that waits for more fails the test at the
    // deadline instead of hanging it.
    const test::ChildOutput out = test::runInChildForText([&] {
        InstanceMessage message(std::move(connection.reader), c.maxBytes);
        const State first = message.readAvailable();
        const State again = message.readAvailable();
        return std::to_string(static_cast<int>(first)) + std::to_string(static_cast<int>(again)) + ":" +
               message.text();
    });
    EXPECT_EQ(out.end, 0);
    const std::string state = std::to_string(static_cast<int>(c.state));
    EXPECT_EQ(out.text, state + state + ":" + c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Senders, InstanceMessageTest,
    ::testing::Values(MessageCase{"WholeAndClosed", "show", true, 64, State::Complete, "show"},
                      MessageCase{"EmptyAndClosed", "", true, 64, State::Complete, ""},
                      MessageCase{"CutAtTheLimit", std::string(1000, 'x'), true, 16, State::Complete,
                                  std::string(16, 'x')},
                      MessageCase{"LimitReachedStillOpen", std::string(1000, 'x'), false, 16, State::Complete,
                                  std::string(16, 'x')},
                      MessageCase{"PartStillOpen", "sh", false, 64, State::Reading, "sh"},
                      MessageCase{"NothingYet", "", false, 64, State::Reading, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// The rest of a message that comes later is added to what came first; once
// whole, nothing more is read.
TEST(InstanceMessageTest, GathersAMessageSentInPieces) {
    Connection connection;
    InstanceMessage message(std::move(connection.reader), 64);
    connection.send("sh");
    EXPECT_EQ(message.readAvailable(), State::Reading);
    connection.send("ow");
    connection.writer.reset();
    EXPECT_EQ(message.readAvailable(), State::Complete);
    EXPECT_EQ(message.text(), "show");
    EXPECT_EQ(message.readAvailable(), State::Complete);
}

}  // namespace
}  // namespace velk::platform
