#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/TestOperations.h"
#include "server_http/ServerHarness.h"
#include "support/TokenMinter.h"

namespace velk::test {
namespace {

// Runs for two senders over HTTP and settings changes from a third thread:
// each run answers with its own sender's session.
TEST(ServerConcurrencyTest, ConcurrentRunsForTwoSenders) {
    ServerHarness harness;
    harness.addSenders({"a", "b"}, "a");
    gate().reset();
    gate().open();
    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (int i = 0; !done; ++i) {
            auto sender = testSender("b");
            sender.signerEmail = std::to_string(i);
            harness.settings().upsertSender(sender);
            harness.engine().setPin("CERT-b", std::to_string(i));
        }
    });
    auto runner = [&](const std::string& id) {
        for (int i = 0; i < 20; ++i) {
            const Answer answer =
                harness.post(std::string("/api/v1/operations/") + kGateOp, "{}", {{"X-Velk-Sender-Id", id}});
            ASSERT_EQ(answer.status, 200) << answer.body;
            EXPECT_EQ(answer.json().at("metadata").at("identity"),
                      "EIK-" + id + "|5|CERT-" + id + "|KEY-" + id);
        }
    };
    std::thread runA(runner, "a");
    std::thread runB(runner, "b");
    runA.join();
    runB.join();
    done = true;
    changer.join();
    EXPECT_EQ(gate().maxInside(), 1);
}

// One token presented by several requests at once passes exactly once.
TEST(ServerConcurrencyTest, ARacedTokenPassesOnce) {
    ServerHarness harness;
    harness.addSenders({"a"}, "a");
    TokenMinter minter;
    harness.settings().setCloud(true, minter.publicKeyPem(), "velk-cloud");
    const std::string token = "Bearer " + minter.mint({{"iss", "velk-cloud"},
                                                       {"exp", harness.wallSeconds + 60},
                                                       {"typeId", kTokenEchoOp},
                                                       {"jti", "raced"}});
    constexpr int kRequests = 8;
    std::atomic<int> passed{0};
    std::atomic<int> replays{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < kRequests; ++i) {
        clients.emplace_back([&] {
            const Answer answer = harness.post(std::string("/api/v1/operations/") + kTokenEchoOp, "{}",
                                               {{"Authorization", token}});
            if (answer.status == 200) {
                ++passed;
            } else if (answer.status == 401 && answer.error() == "Submission token already used (replay)") {
                ++replays;
            }
        });
    }
    for (auto& client : clients) {
        client.join();
    }
    EXPECT_EQ(passed.load(), 1);
    EXPECT_EQ(replays.load(), kRequests - 1);
}

}  // namespace
}  // namespace velk::test
