#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/TestOperations.h"
#include "server/DialogGate.h"
#include "server/IFilePicker.h"
#include "server_http/ScriptedSenderPicker.h"
#include "server_http/ServerHarness.h"
#include "support/GuardedEventLoop.h"
#include "support/PollUntil.h"

namespace velk::test {
namespace {

using core::json;

const std::string kEchoPath = std::string("/api/v1/operations/") + kEchoOp;
const std::string kBusy = "Друга операция очаква потвърждение в агента. Отговорете на нея и опитайте отново.";

json refusal(const std::string& message) {
    return json{{"success", false}, {"errorMessage", message}};
}

// Runs the Qt event loop on this (the GUI) thread while driver runs on
// another, until the driver has ended. A guard ends the loop, and with it
// every dialog still open, should the driver not end.
void runEventLoopWhile(const std::function<void()>& driver) {
    std::thread thread([&driver] {
        driver();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
    EXPECT_TRUE(execUntilQuit()) << "the test did not end within the guard time";
    thread.join();
}

// The dialogs as the desktop program shows them: each call is queued onto
// the Qt event loop, and each dialog is modal, running its own event loop
// (which delivers the next queued call) until the user answers it or the
// server closes it.
class HeldDialogs {
public:
    // On the GUI thread: shows a dialog and waits; the user's answer, or the
    // empty text when it was closed.
    std::string show() {
        QEventLoop loop;
        Shown shown{&loop, {}};
        shown_.push_back(&shown);
        ++opened;
        ++open;
        if (onOpened) {
            onOpened();
        }
        loop.exec();
        shown_.pop_back();
        --open;
        return shown.answer;
    }

    // On the GUI thread: the server closes the innermost dialog.
    void closeByServer() {
        if (!shown_.empty()) {
            ++closedByServer;
            shown_.back()->loop->exit();
        }
    }

    // From the test: the user answers the innermost dialog...
    void answer(const std::string& text) {
        QMetaObject::invokeMethod(
            &context,
            [this, text] {
                if (!shown_.empty()) {
                    shown_.back()->answer = text;
                    shown_.back()->loop->exit();
                }
            },
            Qt::QueuedConnection);
    }
    // ...or closes every dialog.
    void closeAll() {
        QMetaObject::invokeMethod(
            &context,
            [this] {
                for (Shown* shown : shown_) {
                    shown->loop->exit();
                }
            },
            Qt::QueuedConnection);
    }

    // Once no dialog is open and the GUI thread has gone on from the last
    // one's call.
    [[nodiscard]] bool waitUntilNoneOpen() {
        if (!pollUntil([&] { return open == 0; }, pause)) {
            return false;
        }
        std::atomic<bool> passed{false};
        QMetaObject::invokeMethod(
            &context, [&passed] { passed = true; }, Qt::QueuedConnection);
        return pollUntil([&] { return passed.load(); }, pause);
    }
    [[nodiscard]] bool waitUntilOpen() {
        return pollUntil([&] { return open > 0; }, pause);
    }

    static void pause() { std::this_thread::sleep_for(std::chrono::milliseconds(2)); }

    QObject context;                 // lives on the GUI thread; what is posted to it goes with it
    std::function<void()> onOpened;  // on the GUI thread, as each dialog opens
    std::atomic<int> opened{0};
    std::atomic<int> open{0};
    std::atomic<int> closedByServer{0};

private:
    struct Shown {
        QEventLoop* loop;
        std::string answer;
    };
    std::vector<Shown*> shown_;  // GUI thread only
};

// Its dialog answers with the sender id the user gives.
class HeldSenderPicker : public server::ISenderPicker {
public:
    explicit HeldSenderPicker(HeldDialogs& dialogs) : dialogs_(dialogs) {}
    void post(std::function<void()> task) override {
        QMetaObject::invokeMethod(&dialogs_.context, std::move(task), Qt::QueuedConnection);
    }
    void closeDialog() override { dialogs_.closeByServer(); }
    server::SenderPickResult pickSender(const std::vector<core::SenderProfile>&, const std::string&,
                                        const std::string&, const std::string&, const std::string&) override {
        return {dialogs_.show(), false, false};
    }

private:
    HeldDialogs& dialogs_;
};

// Its dialogs answer with the path the user gives.
class HeldFilePicker : public server::IFilePicker {
public:
    explicit HeldFilePicker(HeldDialogs& dialogs) : dialogs_(dialogs) {}
    void post(std::function<void()> task) override {
        QMetaObject::invokeMethod(&dialogs_.context, std::move(task), Qt::QueuedConnection);
    }
    void closeDialog() override { dialogs_.closeByServer(); }
    std::string pickFile(const std::string&, const std::string&) override { return dialogs_.show(); }
    std::string pickFolder(const std::string&) override { return dialogs_.show(); }

private:
    HeldDialogs& dialogs_;
};

// Ample for an answer on the busiest machine: only a request left waiting
// for good runs into it.
constexpr std::chrono::seconds kAnswerDeadline = kPollDeadline;

// The dialog time limit on a test's clock: it passes when the test says, for
// every dialog waiting then.
class DialogClock {
public:
    std::function<std::stop_token()> tokens() {
        return [this] {
            std::lock_guard lock(mutex_);
            return source_.get_token();
        };
    }
    void passTimeLimit() {
        std::lock_guard lock(mutex_);
        source_.request_stop();
        source_ = std::stop_source();
    }

private:
    std::mutex mutex_;
    std::stop_source source_;
};

// A request as a web page's script sends it: a simple cross-origin POST
// (no preflight), on a connection of its own. No answer within
// kAnswerDeadline reads as status 0.
Answer pagePost(int port, const std::string& path) {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(kAnswerDeadline);
    const auto result =
        client.Post(path.c_str(), {{"Origin", "https://page.example"}}, "{}", "text/plain;charset=UTF-8");
    Answer answer;
    if (result) {
        answer.status = result->status;
        answer.body = result->body;
    }
    return answer;
}

json parsed(const Answer& answer) {
    return json::parse(answer.body, nullptr, false);
}

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
    runEventLoopWhile([&] { answer = harness.post(kEchoPath, "{}", {{"Origin", "https://app.example"}}); });

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

// A page that sends many runs at once (more than the server has workers)
// gets one dialog before the user; the other runs are refused at once, not
// queued behind it, and the server goes on answering.
TEST_F(GuiMarshallingTest, AFloodOfRunsOpensOneDialogAndLeavesTheServerAnswering) {
    HeldDialogs dialogs;
    HeldSenderPicker picker(dialogs);
    ServerHarness harness(ServerHarness::Options{&picker, true});
    harness.addSenders({"a"}, "a");

    constexpr int kRuns = 34;
    std::vector<Answer> answers(kRuns);
    std::atomic<int> answered{0};
    Answer health;
    int openedWhileWaiting = 0;
    runEventLoopWhile([&] {
        std::vector<std::thread> page;
        for (int i = 0; i < kRuns; ++i) {
            page.emplace_back([&, i] {
                answers[i] = pagePost(harness.port(), kEchoPath);
                ++answered;
            });
        }
        EXPECT_TRUE(pollUntil([&] { return answered >= kRuns - 1; }, HeldDialogs::pause))
            << "only " << answered << " of the runs were answered while one dialog was open";
        health = harness.get("/api/health");
        openedWhileWaiting = dialogs.opened;
        dialogs.answer("a");  // the user confirms the one run shown
        if (!pollUntil([&] { return answered == kRuns; }, HeldDialogs::pause)) {
            dialogs.closeAll();
        }
        for (std::thread& thread : page) {
            thread.join();
        }
    });

    EXPECT_EQ(health.status, 200) << "the health probe got no answer while the dialog was open";
    EXPECT_EQ(openedWhileWaiting, 1);
    EXPECT_EQ(dialogs.opened, 1);
    int ran = 0;
    int refused = 0;
    for (const Answer& answer : answers) {
        ASSERT_EQ(answer.status, 200) << answer.body;
        if (parsed(answer) == refusal(kBusy)) {
            ++refused;
        } else if (parsed(answer).contains("metadata")) {
            ++ran;
        } else {
            ADD_FAILURE() << "unexpected answer: " << answer.body;
        }
    }
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(refused, kRuns - 1);
}

// The routes that open dialogs, each with the answer of a dialog it could
// not show (or that closed unanswered).
struct DialogRoute {
    const char* name;
    std::string path;
    std::vector<std::string> senders;  // for a run
    json notShown;
};

const std::vector<DialogRoute>& dialogRoutes() {
    static const std::vector<DialogRoute> routes = {
        {"sender choice", kEchoPath, {"a", "b"}, refusal("Изборът на подател беше отказан.")},
        {"run confirmation", kEchoPath, {"a"}, refusal("Операцията е отказана от потребителя.")},
        {"file dialog", "/api/pick-file", {}, json{{"path", ""}}},
        {"folder dialog", "/api/pick-folder", {}, json{{"path", ""}}},
    };
    return routes;
}

TEST_F(GuiMarshallingTest, WhileOneDialogIsOpenEveryRequestForAnotherIsRefusedAtOnce) {
    HeldDialogs dialogs;
    HeldSenderPicker senderPicker(dialogs);
    HeldFilePicker filePicker(dialogs);
    ServerHarness::Options options{&senderPicker, true, &filePicker};
    ServerHarness harness(options);
    harness.addSenders({"a"}, "a");
    // What each route answers while another request's dialog is open.
    const std::vector<std::pair<std::string, json>> refusals = {
        {kEchoPath, refusal(kBusy)},
        {"/api/pick-file", json{{"path", ""}}},
        {"/api/pick-folder", json{{"path", ""}}},
    };
    const std::vector<std::pair<std::string, std::string>> openers = {
        {kEchoPath, "a"}, {"/api/pick-file", "/srv/d.xml"}, {"/api/pick-folder", "/srv/vat"}};

    runEventLoopWhile([&] {
        for (const auto& [openerPath, userAnswer] : openers) {
            SCOPED_TRACE(openerPath);
            const int openedBefore = dialogs.opened;
            Answer opened;
            std::thread opener([&, path = openerPath] { opened = pagePost(harness.port(), path); });
            if (!dialogs.waitUntilOpen()) {
                ADD_FAILURE() << "no dialog opened";
            }
            for (const auto& [path, expected] : refusals) {
                const Answer answer = pagePost(harness.port(), path);
                EXPECT_EQ(answer.status, 200) << path;
                EXPECT_EQ(parsed(answer), expected) << path << ": " << answer.body;
            }
            EXPECT_EQ(dialogs.opened, openedBefore + 1);
            dialogs.answer(userAnswer);
            opener.join();
            EXPECT_EQ(opened.status, 200);
            if (openerPath == kEchoPath) {
                EXPECT_TRUE(parsed(opened).contains("metadata")) << opened.body;
            } else {
                EXPECT_EQ(parsed(opened), (json{{"path", userAnswer}}));
            }
            EXPECT_TRUE(dialogs.waitUntilNoneOpen()) << "the dialog did not close";
        }
    });
}

// No request waits for the user without end: a dialog left unanswered closes
// after the time limit, the request gets the answer of a cancelled dialog,
// and the next request may show its own.
TEST_F(GuiMarshallingTest, ADialogLeftUnansweredClosesAsCancelledAfterTheTimeLimit) {
    HeldDialogs dialogs;
    HeldSenderPicker senderPicker(dialogs);
    HeldFilePicker filePicker(dialogs);
    DialogClock clock;
    dialogs.onOpened = [&clock] { clock.passTimeLimit(); };
    runEventLoopWhile([&] {
        for (const DialogRoute& route : dialogRoutes()) {
            SCOPED_TRACE(route.name);
            ServerHarness::Options options{&senderPicker, true, &filePicker};
            options.dialogTimeUp = clock.tokens();
            ServerHarness harness(options);
            if (!route.senders.empty()) {
                harness.addSenders(route.senders, "a");
            }
            const int openedBefore = dialogs.opened;
            const int closedBefore = dialogs.closedByServer;
            for (int round = 1; round <= 2; ++round) {
                const Answer answer = pagePost(harness.port(), route.path);
                EXPECT_EQ(answer.status, 200);
                EXPECT_EQ(parsed(answer), route.notShown) << answer.body;
                if (!dialogs.waitUntilNoneOpen()) {
                    // Closed as the user would, so that the test fails
                    // instead of hanging in the dialog's own event loop.
                    ADD_FAILURE() << "the dialog stayed open";
                    dialogs.closeAll();
                    return;
                }
                EXPECT_EQ(dialogs.opened - openedBefore, round);
                EXPECT_EQ(dialogs.closedByServer - closedBefore, round);
                // Counted as declined: the page waits out its hold.
                harness.steadyNs += std::chrono::nanoseconds(server::DialogGate::kDeclineHold).count();
            }
        }
    });
}

// The time limit counts from the request: a dialog the GUI thread has not
// reached by then is answered as cancelled, and never shows once it is.
TEST(GuiCallTest, ATimeLimitPassingBeforeTheDialogsTurnCancelsIt) {
    std::vector<std::function<void()>> held;
    std::mutex heldMutex;
    ScriptedSenderPicker picker([&](std::function<void()> task) {
        std::lock_guard lock(heldMutex);
        held.push_back(std::move(task));
    });
    ServerHarness::Options options{&picker, true};
    options.dialogTimeLimit = std::chrono::milliseconds(1);
    ServerHarness harness(options);
    harness.addSenders({"a", "b"}, "a");
    picker.choose("b");

    const Answer answer = harness.post(kEchoPath, "{}");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json().at("errorMessage"), "Изборът на подател беше отказан.");
    std::lock_guard lock(heldMutex);
    EXPECT_FALSE(held.empty());
    for (const auto& task : held) {
        task();
    }
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
