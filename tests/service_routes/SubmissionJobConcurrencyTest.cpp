#include <atomic>
#include <latch>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/JsonUtils.h"
#include "server/JobStore.h"
#include "server_http/ServerHarness.h"

namespace velk::test {
namespace {

TEST(SubmissionJobConcurrency, AThousandAndOneConcurrentCreatesKeepTheNewestThousand) {
    // As many clients as the server has workers: the library listens with a
    // backlog of 5, and a larger burst of new connections can see some of
    // them dropped by the system when the machine is busy.
    constexpr int kClients = 8;
    constexpr int kCreates = 1001;
    ServerHarness harness;
    std::atomic<int> next{0};
    std::latch go(kClients);
    std::mutex resultsMutex;
    std::set<std::string> created;
    std::vector<std::string> failures;

    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&] {
            go.arrive_and_wait();
            for (int n = next++; n < kCreates; n = next++) {
                const Answer answer =
                    harness.post("/api/submissions", R"({"declarationDir":"/vat/)" + std::to_string(n) +
                                                         R"(","signerEmail":"a@b.bg"})");
                std::lock_guard lock(resultsMutex);
                if (answer.status != 202 || answer.json().at("status") != "queued" ||
                    answer.header("Location") !=
                        "/api/submissions/" + answer.json().at("id").get<std::string>()) {
                    failures.push_back(std::to_string(answer.status) + " " + answer.body);
                    continue;
                }
                created.insert(answer.json().at("id").get<std::string>());
            }
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }

    EXPECT_TRUE(failures.empty()) << failures.front();
    EXPECT_EQ(created.size(), static_cast<std::size_t>(kCreates));
    const Answer listed = harness.get("/api/submissions?limit=2000");
    ASSERT_EQ(listed.status, 200);
    std::set<std::string> kept;
    for (const auto& job : listed.json()) {
        kept.insert(job.at("id").get<std::string>());
    }
    EXPECT_EQ(listed.json().size(), server::JobStore::kMaxJobs);
    EXPECT_EQ(kept.size(), server::JobStore::kMaxJobs);
    for (const std::string& id : kept) {
        EXPECT_TRUE(created.contains(id)) << id;
    }
}

}  // namespace
}  // namespace velk::test
