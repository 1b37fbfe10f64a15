#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/JsonUtils.h"
#include "engine/TestOperations.h"
#include "engine/TwoSenderEngine.h"

namespace velk::test {
namespace {

using core::json;

class EngineConcurrencyTest : public ::testing::Test, protected TwoSenderEngine {
protected:
    EngineConcurrencyTest() {
        engine->initialise();
        gate().reset();
    }

    std::string identityRun(const std::string& typeId, const std::string& senderId = "") {
        const auto result = engine->execute(typeId, "{}", std::nullopt, {}, senderId);
        EXPECT_TRUE(result.success) << result.error;
        return result.success ? json::parse(result.json).at("metadata").at("identity").get<std::string>()
                              : "";
    }
};

// A change of settings (and a PIN) from a third thread neither waits for the
// run in progress nor changes the session under it; the next run has it.
TEST_F(EngineConcurrencyTest, SettingsChangeDuringARunReachesOnlyTheNextRun) {
    std::string first;
    std::thread runA([&] { first = identityRun(kGateOp); });
    ASSERT_TRUE(gate().waitForArrivals(1)) << "the first run never reached the gate";

    std::thread third([&] {
        settings->setActiveSender("b");
        engine->setPin("CERT-b", "9999");
    });
    third.join();  // returned while run A still holds the session

    std::string second;
    std::thread runB([&] { second = identityRun(kGateOp); });
    gate().open();
    runA.join();
    runB.join();

    EXPECT_EQ(first, "EIK-a|5|CERT-a|KEY-a");
    EXPECT_EQ(second, "EIK-b|5|CERT-b|KEY-b");
    EXPECT_EQ(gate().identityChangesDuringRun(), 0);
    EXPECT_EQ(gate().maxInside(), 1);
}

// Runs for two senders and a stream of settings changes, all at once: every
// run sees its own sender's session, and no two runs share it.
TEST_F(EngineConcurrencyTest, ConcurrentRunsForTwoSendersAndSettingsChanges) {
    gate().open();
    constexpr int kRounds = 40;
    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (int i = 0; !done; ++i) {
            auto sender = testSender("a");
            sender.signerEmail = std::to_string(i);
            settings->upsertSender(sender);
            engine->setPin("CERT-a", std::to_string(i));
        }
    });
    auto runner = [&](const std::string& senderId) {
        for (int i = 0; i < kRounds; ++i) {
            EXPECT_EQ(identityRun(kGateOp, senderId),
                      "EIK-" + senderId + "|5|CERT-" + senderId + "|KEY-" + senderId);
            const auto test = engine->executeTest(kEchoOp, R"({"n":1})");
            EXPECT_TRUE(test.success);
        }
    };
    std::thread runA(runner, "a");
    std::thread runB(runner, "b");
    runA.join();
    runB.join();
    done = true;
    changer.join();

    EXPECT_EQ(gate().maxInside(), 1);
    EXPECT_EQ(gate().identityChangesDuringRun(), 0);
}

}  // namespace
}  // namespace velk::test
