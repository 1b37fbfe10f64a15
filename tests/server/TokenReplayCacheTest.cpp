#include "server/TokenReplayCache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <string>
#include <thread>
#include <vector>

namespace velk::server {
namespace {

using std::chrono::seconds;

constexpr std::int64_t kSecond = 1'000'000'000;

// A steady clock the test moves by hand.
struct FakeClock {
    std::atomic<std::int64_t> now{5 * kSecond};
    TokenReplayCache::SteadyClock fn() {
        return [this] { return now.load(); };
    }
};

TEST(TokenReplayCache, AnIdPassesOncePerMinute) {
    FakeClock clock;
    TokenReplayCache cache(clock.fn());
    EXPECT_TRUE(cache.markUsed("t-1"));
    EXPECT_FALSE(cache.markUsed("t-1"));
    EXPECT_TRUE(cache.markUsed("t-2"));

    clock.now += 60 * kSecond - 1;
    EXPECT_FALSE(cache.markUsed("t-1"));
    clock.now += 1;
    EXPECT_TRUE(cache.markUsed("t-1"));
    EXPECT_FALSE(cache.markUsed("t-1"));
}

TEST(TokenReplayCache, AnEmptyIdNeverPasses) {
    FakeClock clock;
    TokenReplayCache cache(clock.fn());
    EXPECT_FALSE(cache.markUsed(""));
    EXPECT_FALSE(cache.markUsed("", seconds(300)));
}

struct KeepCase {
    const char* name;
    seconds keepFor;
    std::int64_t keptNs;
};

TEST(TokenReplayCache, KeepTimeIsClampedToOneMinuteAndOneDay) {
    const std::vector<KeepCase> cases = {
        {"already expired", seconds(-5), 60 * kSecond}, {"none", seconds(0), 60 * kSecond},
        {"under a minute", seconds(30), 60 * kSecond},  {"a minute", seconds(60), 60 * kSecond},
        {"five minutes", seconds(300), 300 * kSecond},  {"a day", seconds(86400), 86400 * kSecond},
        {"two days", seconds(172800), 86400 * kSecond}, {"the largest", seconds::max(), 86400 * kSecond},
    };
    for (const KeepCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock clock;
        TokenReplayCache cache(clock.fn());
        const std::int64_t start = clock.now;
        ASSERT_TRUE(cache.markUsed("t", c.keepFor));
        clock.now = start + c.keptNs - 1;
        EXPECT_FALSE(cache.markUsed("t", c.keepFor));
        clock.now = start + c.keptNs;
        EXPECT_TRUE(cache.markUsed("t", c.keepFor));
    }
}

TEST(TokenReplayCache, ASubmissionTokenCannotBeReusedOnceAnInquiryWindowHasPassed) {
    FakeClock clock;
    TokenReplayCache cache(clock.fn());
    ASSERT_TRUE(cache.markUsed("s-1", seconds(3600)));
    clock.now += 61 * kSecond;
    EXPECT_FALSE(cache.markUsed("s-1"));
    EXPECT_FALSE(cache.markUsed("s-1", seconds(3600)));
}

TEST(TokenReplayCache, OneIdRacedFromManyThreadsPassesOnce) {
    constexpr int kThreads = 16;
    constexpr int kRounds = 200;
    FakeClock clock;
    TokenReplayCache cache(clock.fn());
    for (int round = 0; round < kRounds; ++round) {
        const std::string jti = "race-" + std::to_string(round);
        std::atomic<int> passed{0};
        std::latch start(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                start.arrive_and_wait();
                if (cache.markUsed(jti)) {
                    ++passed;
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        ASSERT_EQ(passed.load(), 1) << jti;
    }
}

}  // namespace
}  // namespace velk::server
