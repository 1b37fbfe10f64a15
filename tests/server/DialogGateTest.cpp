#include "server/DialogGate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

namespace velk::server {
namespace {

constexpr std::int64_t kHoldNs = std::chrono::nanoseconds(DialogGate::kDeclineHold).count();

// A steady clock the test moves by hand.
struct FakeClock {
    std::atomic<std::int64_t> now{7'000'000'000};
    DialogGate::SteadyClock fn() {
        return [this] { return now.load(); };
    }
};

TEST(DialogGate, OneTurnAtATimeSharedByItsCopiesAndKeptPastTheGate) {
    FakeClock clock;
    DialogGate::Turn outlived;
    {
        DialogGate gate(clock.fn());
        DialogGate::Turn turn = gate.tryEnter("https://a.example");
        ASSERT_TRUE(turn);
        EXPECT_FALSE(gate.tryEnter());
        EXPECT_FALSE(gate.tryEnter("https://b.example"));
        EXPECT_FALSE(gate.tryEnter("https://a.example"));

        // The dialog's copy keeps the screen after the request's has gone.
        DialogGate::Turn dialogCopy = turn;
        turn.reset();
        EXPECT_FALSE(gate.tryEnter("https://b.example"));
        dialogCopy.reset();

        outlived = gate.tryEnter();
        ASSERT_TRUE(outlived);
        EXPECT_FALSE(gate.tryEnter(""));
    }
    outlived.reset();  // after the gate: no harm
}

// Who may take the free gate after the user declined one requester, and when
// the declined one may ask again.
TEST(DialogGate, ADeclinedRequesterWaitsTheHoldWhileOthersGoFirst) {
    struct Case {
        const char* name;
        std::string asking;
        std::int64_t afterNs;  // since the decline
        bool enters;
    };
    const std::string declined = "https://loop.example";
    const std::vector<Case> cases = {
        {"the declined one at once", declined, 0, false},
        {"the declined one just before the hold ends", declined, kHoldNs - 1, false},
        {"the declined one once the hold has ended", declined, kHoldNs, true},
        {"another page at once", "https://app.example", 0, true},
        {"a request naming no one", "", 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock clock;
        DialogGate gate(clock.fn());
        {
            DialogGate::Turn turn = gate.tryEnter(declined);
            ASSERT_TRUE(turn);
            gate.holdBack(declined);  // while its turn is held, as the routes do
        }
        clock.now += c.afterNs;
        EXPECT_EQ(static_cast<bool>(gate.tryEnter(c.asking)), c.enters);
    }
}

TEST(DialogGate, HoldsAreKeptPerRequesterAndRenewedByTheNextDecline) {
    FakeClock clock;
    DialogGate gate(clock.fn());
    gate.holdBack("https://a.example");
    clock.now += kHoldNs / 2;
    gate.holdBack("https://b.example");

    clock.now += kHoldNs / 2;  // a's hold has ended, b's has not
    EXPECT_TRUE(gate.tryEnter("https://a.example"));
    EXPECT_FALSE(gate.tryEnter("https://b.example"));
    // Dialogs that name no requester never wait for a hold.
    EXPECT_TRUE(gate.tryEnter());

    // a is declined again: a new hold from now.
    gate.holdBack("https://a.example");
    clock.now += kHoldNs - 1;
    EXPECT_FALSE(gate.tryEnter("https://a.example"));
    EXPECT_TRUE(gate.tryEnter("https://b.example"));
    clock.now += 1;
    EXPECT_TRUE(gate.tryEnter("https://a.example"));
}

// A page that asks again the moment it is answered finds the gate free
// before any other page does; once declined it must still let the next one
// through.
TEST(DialogGate, APageAskingAgainAtOnceLeavesTheNextDialogToAnother) {
    FakeClock clock;
    DialogGate gate(clock.fn());
    const std::string loop = "https://loop.example";
    const std::string app = "https://app.example";

    DialogGate::Turn loopTurn = gate.tryEnter(loop);
    ASSERT_TRUE(loopTurn);
    EXPECT_FALSE(gate.tryEnter(app));  // the app asks while the page's dialog is open

    gate.holdBack(loop);  // the user declines
    loopTurn.reset();
    EXPECT_FALSE(gate.tryEnter(loop));  // the page asks again at once

    DialogGate::Turn appTurn = gate.tryEnter(app);
    EXPECT_TRUE(appTurn);
}

}  // namespace
}  // namespace velk::server
