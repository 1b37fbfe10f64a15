#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "engine/TestOperations.h"
#include "server_http/ScriptedSenderPicker.h"
#include "server_http/ServerHarness.h"

namespace velk::test {
namespace {

const std::string kEchoPath = std::string("/api/v1/operations/") + kEchoOp;

// The sender picker as the desktop program has it: its calls are queued onto
// the thread that runs the Qt event loop, here the test's main thread.
class QtPicker : public ScriptedSenderPicker {
public:
    QtPicker()
        : ScriptedSenderPicker([this](std::function<void()> task) {
              {
                  std::lock_guard lock(mutex_);
                  ++posted_;
              }
              postedChanged_.notify_all();
              QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
          }) {}

    [[nodiscard]] bool waitForPosts(int count) {
        std::unique_lock lock(mutex_);
        return postedChanged_.wait_for(lock, std::chrono::seconds(60), [&] { return posted_ >= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable postedChanged_;
    int posted_ = 0;
};

class GuiMarshallingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "server_gui_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QCoreApplication(argc, argv);
    }
    static void TearDownTestSuite() {
        delete app_;
        app_ = nullptr;
    }

    static QCoreApplication* app_;
};

QCoreApplication* GuiMarshallingTest::app_ = nullptr;

TEST_F(GuiMarshallingTest, DialogsRunOnTheEventLoopThreadWhileTheRequestWaits) {
    QtPicker picker;
    ServerHarness harness(ServerHarness::Options{&picker, true});
    harness.addSenders({"a", "b"}, "a");
    picker.choose("b");
    picker.choose("b", true);

    Answer answer;
    std::thread client([&] {
        answer = harness.post(kEchoPath, "{}", {{"Origin", "https://app.example"}});
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
    QCoreApplication::exec();
    client.join();

    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.json().at("metadata").at("identity"), "EIK-b|5|CERT-b|KEY-b");
    EXPECT_EQ(harness.settings().activeSenderId(), "b");
    const auto calls = picker.calls();
    ASSERT_EQ(calls.size(), 2u);
    for (const auto& call : calls) {
        EXPECT_EQ(call.thread, std::this_thread::get_id());
        EXPECT_EQ(call.requester, "https://app.example");
    }
}

TEST_F(GuiMarshallingTest, AStoppingServerNoLongerWaitsForTheEventLoop) {
    QtPicker picker;
    ServerHarness harness(ServerHarness::Options{&picker, true});
    harness.addSenders({"a", "b"}, "a");
    picker.choose("b");

    Answer answer;
    std::thread client([&] { answer = harness.post(kEchoPath, "{}"); });
    // Queued, but the event loop does not run.
    ASSERT_TRUE(picker.waitForPosts(1)) << "the picker call was never posted";
    harness.server().stop();
    client.join();
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json().at("errorMessage"), "Изборът на подател беше отказан.");

    // When the loop gets to the call at last, no dialog opens.
    QCoreApplication::processEvents();
    EXPECT_TRUE(picker.calls().empty());
}

// Once the event loop has ended the GUI side drops what it is handed; the
// request is answered at once, not when the server stops.
TEST(GuiCallTest, ATaskDroppedUnrunAnswersTheWaitingRequestAtOnce) {
    ScriptedSenderPicker picker([](std::function<void()> task) { task = nullptr; });
    ServerHarness harness(ServerHarness::Options{&picker, true});
    harness.addSenders({"a", "b"}, "a");
    picker.choose("b");

    const Answer answer = harness.post(kEchoPath, "{}");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json().at("errorMessage"), "Изборът на подател беше отказан.");
    EXPECT_TRUE(picker.calls().empty());
}

}  // namespace
}  // namespace velk::test
