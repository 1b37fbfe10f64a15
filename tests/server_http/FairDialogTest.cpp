// The one dialog at a time is fair to the user: a page that asks again the
// moment it is answered cannot keep the screen from every other page.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/JsonUtils.h"
#include "engine/TestOperations.h"
#include "server/DialogGate.h"
#include "server/ISenderPicker.h"
#include "server_http/ScriptedSenderPicker.h"
#include "server_http/ServerHarness.h"
#include "support/LoopingPage.h"
#include "support/PollUntil.h"

namespace velk::test {
namespace {

using core::json;

const std::string kEchoPath = std::string("/api/v1/operations/") + kEchoOp;
const std::string kBusy = "Друга операция очаква потвърждение в агента. Отговорете на нея и опитайте отново.";
const std::string kChoiceCancelled = "Изборът на подател беше отказан.";
const std::string kRunDeclined = "Операцията е отказана от потребителя.";
const std::string kAddSender = "Моля, добавете подател в настройките и опитайте отново.";
const std::string kLoopOrigin = "https://loop.example";
const std::string kAppOrigin = "https://app.example";
constexpr std::int64_t kHoldNs = std::chrono::nanoseconds(server::DialogGate::kDeclineHold).count();

json refusal(const std::string& message) {
    return {{"success", false}, {"errorMessage", message}};
}

void pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool ran(const Answer& answer) {
    const json value = json::parse(answer.body, nullptr, false);
    return answer.status == 200 && value.is_object() && value.contains("metadata");
}

bool refusedBusy(const Answer& answer) {
    return answer.status == 200 && json::parse(answer.body, nullptr, false) == refusal(kBusy);
}

// The user at the screen: the sender picker's dialogs run on a GUI thread of
// their own and stay open until the test answers them as the user would (or
// the server closes them).
class ScreenUser : public server::ISenderPicker {
public:
    ScreenUser() : gui_([this] { run(); }) {}
    ~ScreenUser() override {
        {
            std::lock_guard lock(mutex_);
            ending_ = true;
            open_.reset();
        }
        changed_.notify_all();
        gui_.join();
    }

    void post(std::function<void()> task) override {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        changed_.notify_all();
    }

    void closeDialog() override { answer(""); }

    server::SenderPickResult pickSender(const std::vector<core::SenderProfile>& senders, const std::string&,
                                        const std::string& requester, const std::string&,
                                        const std::string&) override {
        std::unique_lock lock(mutex_);
        if (ending_ || leaving_ || senders.empty()) {
            return {};
        }
        ++shown_;
        open_ = requester;
        answer_.reset();
        changed_.wait(lock, [&] { return ending_ || answer_.has_value(); });
        std::string id = ending_ ? std::string() : *answer_;
        answer_.reset();
        return {id, false, false};
    }

    // The user answers the open dialog: a sender id, or "" to decline.
    void answer(const std::string& id) {
        {
            std::lock_guard lock(mutex_);
            if (!open_) {
                return;
            }
            open_.reset();
            answer_ = id;
        }
        changed_.notify_all();
    }

    // The user goes: the open dialog and every later one are declined at
    // once, so nothing the test leaves behind waits for an answer.
    void leave() {
        {
            std::lock_guard lock(mutex_);
            leaving_ = true;
        }
        answer("");
    }

    // The requester of the open dialog, if one is open.
    std::optional<std::string> openRequester() const {
        std::lock_guard lock(mutex_);
        return open_;
    }
    // No dialog open and the GUI thread done with every call it was given,
    // so no turn at the screen is left on it.
    bool idle() const {
        std::lock_guard lock(mutex_);
        return !open_ && !busy_ && tasks_.empty();
    }
    int shown() const {
        std::lock_guard lock(mutex_);
        return shown_;
    }

    [[nodiscard]] bool waitForDialogOf(const std::string& requester) const {
        return pollUntil([&] { return openRequester() == requester; }, pause);
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        while (true) {
            changed_.wait(lock, [&] { return ending_ || !tasks_.empty(); });
            if (ending_) {
                return;  // what is left is dropped, which answers its caller
            }
            std::function<void()> task = std::move(tasks_.front());
            tasks_.pop_front();
            busy_ = true;
            lock.unlock();
            task();
            task = nullptr;
            lock.lock();
            busy_ = false;
        }
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> tasks_;
    std::optional<std::string> open_;
    std::optional<std::string> answer_;
    bool busy_ = false;
    bool ending_ = false;
    bool leaving_ = false;
    int shown_ = 0;
    std::thread gui_;
};

// Declines whatever the test leaves open when it ends early.
struct LeaveOnExit {
    ScreenUser& user;
    ~LeaveOnExit() { user.leave(); }
};

// The user declines every dialog of the looping page; the application's page
// asks once after each decline, when the looping page has already asked
// again. The application gets its dialog after the first decline.
TEST(FairDialogTest, APageThatAsksAgainAtOnceLeavesTheNextDialogToAnotherPage) {
    ScreenUser user;
    ServerHarness harness(ServerHarness::Options{&user, true});
    harness.addSenders({"a"}, "a");

    constexpr int kMaxDeclines = 5;
    int declines = 0;
    bool appShown = false;
    LoopingPage page(harness.port(), {kEchoPath, {{"Origin", kLoopOrigin}}, "{}", "text/plain;charset=UTF-8"},
                     3 * kPollDeadline);
    {
        const LeaveOnExit leave{user};
        ASSERT_TRUE(user.waitForDialogOf(kLoopOrigin)) << "the looping page got no dialog";
        while (!appShown && declines < kMaxDeclines) {
            const int before = page.answers();
            user.answer("");
            ++declines;
            // The page has heard its refusal and asked again: it has a new
            // dialog, or it was refused and the old dialog is all gone.
            ASSERT_TRUE(pollUntil(
                [&] { return user.openRequester() || (page.answers() >= before + 2 && user.idle()); }, pause))
                << "the looping page did not ask again";

            auto app = std::async(std::launch::async, [&] {
                return harness.post(kEchoPath, "{}", {{"Origin", kAppOrigin}});
            });
            const bool decided = pollUntil(
                [&] {
                    return app.wait_for(std::chrono::seconds(0)) == std::future_status::ready ||
                           user.openRequester() == kAppOrigin;
                },
                pause);
            if (!decided) {
                user.leave();
            }
            ASSERT_TRUE(decided) << "the application's page was neither shown nor answered";
            if (user.openRequester() == kAppOrigin) {
                appShown = true;
                user.answer("a");
                const Answer answer = app.get();
                EXPECT_TRUE(ran(answer)) << answer.body;
            } else {
                const Answer answer = app.get();
                EXPECT_TRUE(refusedBusy(answer)) << answer.body;
            }
        }
        EXPECT_TRUE(appShown) << "the application's page got no dialog in " << declines << " declines";
        EXPECT_EQ(declines, 1);

        // The hold ends: the page that was declined is shown again.
        harness.steadyNs += kHoldNs;
        ASSERT_TRUE(user.waitForDialogOf(kLoopOrigin)) << "the declined page stayed refused";
    }
    page.finish();  // the user has left: its last dialog was declined

    // The page heard nothing but today's refusals: declined, or busy.
    EXPECT_EQ(page.unexpected(), "");
    EXPECT_EQ(page.declined(), declines + 1);
    EXPECT_GE(page.busy(), 1);
    EXPECT_EQ(user.shown(), declines + 2);
}

// Which answers of the user hold the requester back, and whom: the page whose
// dialog was declined, not another one, and only for a while.
TEST(FairDialogTest, ADeclineHoldsBackOnlyThatRequesterAndOnlyForAWhile) {
    struct Case {
        const char* name;
        std::vector<std::string> senders;
        std::function<void(ScriptedSenderPicker&)> script;
        json firstAnswer;  // null: the run ran
        bool holds;
    };
    const std::vector<Case> cases = {
        {"sender choice cancelled", {"a", "b"}, [](auto& p) { p.cancel(); }, refusal(kChoiceCancelled), true},
        {"confirmation declined", {"a"}, [](auto& p) { p.cancel(); }, refusal(kRunDeclined), true},
        {"sender chosen, confirmation declined",
         {"a", "b"},
         [](auto& p) { p.choose("b"), p.cancel(); },
         refusal(kRunDeclined),
         true},
        {"new sender asked", {"a"}, [](auto& p) { p.createNew(); }, refusal(kAddSender), false},
        {"run confirmed", {"a"}, [](auto& p) { p.choose("a"); }, nullptr, false},
    };
    // The requester as the picker shows it: the Origin, else the Referer.
    const std::vector<std::pair<httplib::Headers, httplib::Headers>> requesters = {
        {{{"Origin", kLoopOrigin}}, {{"Origin", kAppOrigin}}},
        {{{"Referer", kLoopOrigin + "/page"}}, {{"Referer", kAppOrigin + "/page"}}},
    };
    for (const Case& c : cases) {
        for (const auto& [declinedHeaders, otherHeaders] : requesters) {
            SCOPED_TRACE(std::string(c.name) + ", first asked by " + declinedHeaders.begin()->second);
            ScriptedSenderPicker picker;
            ServerHarness harness(ServerHarness::Options{&picker, true});
            harness.addSenders(c.senders, "a");
            c.script(picker);
            const Answer first = harness.post(kEchoPath, "{}", declinedHeaders);
            if (c.firstAnswer.is_null()) {
                EXPECT_TRUE(ran(first)) << first.body;
            } else {
                EXPECT_EQ(first.json(), c.firstAnswer);
            }
            picker.clearScript();

            // Every later dialog is confirmed with a.
            const auto confirmAll = [&picker, &c] {
                for (std::size_t i = 0; i < c.senders.size(); ++i) {
                    picker.choose("a");
                }
            };
            const std::size_t dialogsBefore = picker.calls().size();
            confirmAll();
            const Answer again = harness.post(kEchoPath, "{}", declinedHeaders);
            if (c.holds) {
                EXPECT_TRUE(refusedBusy(again)) << again.body;
                EXPECT_EQ(picker.calls().size(), dialogsBefore);
                picker.clearScript();
                confirmAll();
                const Answer other = harness.post(kEchoPath, "{}", otherHeaders);
                EXPECT_TRUE(ran(other)) << other.body;

                harness.steadyNs += kHoldNs - 1;
                EXPECT_TRUE(refusedBusy(harness.post(kEchoPath, "{}", declinedHeaders)));
                harness.steadyNs += 1;
                picker.clearScript();
                confirmAll();
                const Answer later = harness.post(kEchoPath, "{}", declinedHeaders);
                EXPECT_TRUE(ran(later)) << later.body;
            } else {
                EXPECT_TRUE(ran(again)) << again.body;
            }
        }
    }
}

}  // namespace
}  // namespace velk::test
