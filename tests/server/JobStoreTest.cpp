#include "server/JobStore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <set>
#include <stdexcept>
#include <thread>

namespace velk::server {
namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;

// Wall clock in ticks that the test moves by hand.
struct FakeClock {
    std::atomic<std::int64_t> now{1709210096LL * kTicksPerSecond};
    JobStore::WallClock fn() {
        return [this] { return now.load(); };
    }
};

SubmissionJob newJob(std::string dir) {
    SubmissionJob job;
    job.declarationDir = std::move(dir);
    job.signerEmail = "a@b.bg";
    return job;
}

bool isJobId(const std::string& id) {
    if (id.size() != 36) {
        return false;
    }
    for (std::size_t i = 0; i < id.size(); ++i) {
        const char c = id[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash != (c == '-')) {
            return false;
        }
        if (!dash && !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return id[14] == '4' && std::string_view("89ab").find(id[19]) != std::string_view::npos;
}

std::vector<std::string> idsOf(const std::vector<SubmissionJob>& jobs) {
    std::vector<std::string> ids;
    for (const SubmissionJob& job : jobs) {
        ids.push_back(job.id);
    }
    return ids;
}

TEST(JobStore, EnqueueStoresAQueuedJobCreatedNow) {
    FakeClock clock;
    JobStore store(clock.fn());
    SubmissionJob job = newJob("/d/1");
    job.status = JobStatus::Completed;
    job.iban = "BG80";

    const std::string id = store.enqueue(job);
    EXPECT_TRUE(isJobId(id)) << id;
    const std::optional<SubmissionJob> stored = store.get(id);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->id, id);
    EXPECT_EQ(stored->status, JobStatus::Queued);
    EXPECT_EQ(stored->createdAt, clock.now.load());
    EXPECT_EQ(stored->declarationDir, "/d/1");
    EXPECT_EQ(stored->iban, "BG80");
    EXPECT_EQ(stored->startedAt, 0);
    EXPECT_EQ(stored->completedAt, 0);

    const core::json json = jobToJson(*stored);
    EXPECT_EQ(json["createdAt"], "2024-02-29T12:34:56Z");
    EXPECT_EQ(json["startedAt"], "");
    EXPECT_EQ(json["completedAt"], "");
    EXPECT_EQ(json["progressPercent"], 0);
}

TEST(JobStore, AGivenIdIsKept) {
    JobStore store;
    SubmissionJob job = newJob("/d");
    job.id = "my-id";
    EXPECT_EQ(store.enqueue(job), "my-id");
    EXPECT_TRUE(store.get("my-id"));
    EXPECT_FALSE(store.get("other"));
}

TEST(JobStore, GetHandsOutCopies) {
    JobStore store;
    const std::string id = store.enqueue(newJob("/d"));
    std::optional<SubmissionJob> copy = store.get(id);
    copy->declarationDir = "changed";
    EXPECT_EQ(store.get(id)->declarationDir, "/d");
}

TEST(JobStore, OnlyAQueuedJobCancelsOnce) {
    FakeClock clock;
    JobStore store(clock.fn());
    const std::string id = store.enqueue(newJob("/d"));

    clock.now += 5 * kTicksPerSecond;
    const std::int64_t cancelledAt = clock.now;
    EXPECT_TRUE(store.cancel(id));
    EXPECT_EQ(store.get(id)->status, JobStatus::Cancelled);
    EXPECT_EQ(store.get(id)->completedAt, cancelledAt);
    EXPECT_EQ(jobToJson(*store.get(id))["completedAt"], "2024-02-29T12:35:01Z");

    clock.now += 5 * kTicksPerSecond;
    EXPECT_FALSE(store.cancel(id));
    EXPECT_EQ(store.get(id)->completedAt, cancelledAt);
    EXPECT_FALSE(store.cancel("no-such-id"));
}

TEST(JobStore, ListIsNewestFirstUpToTheLimit) {
    JobStore store;
    const std::string a = store.enqueue(newJob("/a"));
    const std::string b = store.enqueue(newJob("/b"));
    const std::string c = store.enqueue(newJob("/c"));

    EXPECT_TRUE(store.list(0).empty());
    EXPECT_EQ(idsOf(store.list(2)), (std::vector<std::string>{c, b}));
    EXPECT_EQ(idsOf(store.list(5)), (std::vector<std::string>{c, b, a}));
    EXPECT_EQ(idsOf(store.list(UINT64_MAX)), (std::vector<std::string>{c, b, a}));
}

TEST(JobStore, KeepsTheNewestThousandWhateverTheirStatus) {
    JobStore store;
    std::vector<std::string> ids;
    for (int i = 0; i < 1001; ++i) {
        ids.push_back(store.enqueue(newJob("/d/" + std::to_string(i))));
        if (i == 1) {
            ASSERT_TRUE(store.cancel(ids[1]));
        }
    }
    EXPECT_FALSE(store.get(ids[0]));
    EXPECT_FALSE(store.cancel(ids[0]));
    EXPECT_TRUE(store.get(ids[1]));

    const std::vector<SubmissionJob> listed = store.list(2000);
    ASSERT_EQ(listed.size(), JobStore::kMaxJobs);
    EXPECT_EQ(listed.front().id, ids[1000]);
    EXPECT_EQ(listed.back().id, ids[1]);

    // The oldest goes next, cancelled or not.
    store.enqueue(newJob("/d/1001"));
    EXPECT_FALSE(store.get(ids[1]));
    EXPECT_TRUE(store.get(ids[2]));
}

TEST(JobStore, EnqueueAndCopyAnswersTheStoredJobEvenWhenItIsAlreadyEvicted) {
    FakeClock clock;
    JobStore store(clock.fn());
    // A listener runs after the job is stored and before the creator reads
    // it: here it makes room for a thousand newer jobs.
    std::atomic<bool> flood{true};
    store.addListener([&](const SubmissionJob&) {
        if (flood.exchange(false)) {
            for (std::size_t i = 0; i < JobStore::kMaxJobs; ++i) {
                store.enqueue(newJob("/newer"));
            }
        }
    });

    const SubmissionJob stored = store.enqueueAndCopy(newJob("/d/1"));
    EXPECT_EQ(stored.declarationDir, "/d/1");
    EXPECT_EQ(stored.status, JobStatus::Queued);
    EXPECT_EQ(stored.createdAt, clock.now.load());
    EXPECT_EQ(stored.id.size(), 36u);
    EXPECT_FALSE(store.get(stored.id));
}

TEST(JobStore, AReplacedJobIsListedOnceAsTheNewest) {
    JobStore store;
    SubmissionJob job = newJob("/first");
    job.id = "same";
    store.enqueue(job);
    std::vector<std::string> others;
    for (int i = 0; i < 999; ++i) {
        others.push_back(store.enqueue(newJob("/o")));
    }
    job.declarationDir = "/second";
    store.enqueue(job);
    ASSERT_EQ(store.list(2000).size(), JobStore::kMaxJobs);
    EXPECT_EQ(store.list(1).front().declarationDir, "/second");

    // One more job evicts the oldest other job, not the replaced one.
    store.enqueue(newJob("/last"));
    const std::vector<std::string> ids = idsOf(store.list(2000));
    EXPECT_EQ(ids.size(), JobStore::kMaxJobs);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), "same"), 1);
    EXPECT_TRUE(store.get("same"));
    EXPECT_FALSE(store.get(others[0]));
}

TEST(JobStore, ListenersHearEnqueueAndCancelInOrderDespiteFailures) {
    JobStore store;
    std::vector<std::string> heard;
    store.addListener(
        [&](const SubmissionJob& job) { heard.push_back("1:" + std::string(jobStatusName(job.status))); });
    store.addListener([](const SubmissionJob&) { throw std::runtime_error("listener failed"); });
    store.addListener([](const SubmissionJob&) { throw 42; });
    store.addListener(JobListener{});
    store.addListener([&](const SubmissionJob& job) {
        // Called outside the lock, so it may read the store.
        heard.push_back("5:" + std::string(jobStatusName(store.get(job.id)->status)));
    });

    const std::string id = store.enqueue(newJob("/d"));
    EXPECT_TRUE(isJobId(id));
    EXPECT_TRUE(store.cancel(id));
    EXPECT_FALSE(store.cancel(id));
    EXPECT_EQ(heard, (std::vector<std::string>{"1:queued", "5:queued", "1:cancelled", "5:cancelled"}));
}

TEST(JobStore, EnqueueLogsOneLineEvenWhenAListenerThrows) {
    JobStore store;
    store.addListener([](const SubmissionJob&) { throw std::runtime_error("listener failed"); });
    testing::internal::CaptureStderr();
    const std::string id = store.enqueue(newJob("C:\\Декларации\\2024"));
    store.cancel(id);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("[INFO ] Enqueued job " + id + " dir=C:\\Декларации\\2024\n"), std::string::npos)
        << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

TEST(JobStore, AFolderTextCannotForgeALogLine) {
    JobStore store;
    testing::internal::CaptureStderr();
    const std::string id = store.enqueue(newJob("/d\n2024-01-01 00:00:00 [ERROR] forged\r"));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find(" dir=/d\\x0A2024-01-01 00:00:00 [ERROR] forged\\x0D\n"), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_EQ(store.get(id)->declarationDir, "/d\n2024-01-01 00:00:00 [ERROR] forged\r");
}

TEST(JobStore, ConcurrentCreatesKeepAtMostAThousand) {
    constexpr int kThreads = 8;
    constexpr int kTotal = 1001;
    JobStore store;
    std::atomic<int> next{0};
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            start.arrive_and_wait();
            while (next++ < kTotal) {
                const std::string id = store.enqueue(newJob("/d"));
                store.get(id);
                store.list(3);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const std::vector<std::string> ids = idsOf(store.list(5000));
    EXPECT_EQ(ids.size(), JobStore::kMaxJobs);
    EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), ids.size());
}

TEST(GenerateJobId, VersionFourLowerCaseAndDistinct) {
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        const std::string id = generateJobId();
        ASSERT_TRUE(isJobId(id)) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 2000u);
}

TEST(GenerateJobId, SharedAcrossThreads) {
    constexpr int kThreads = 8;
    constexpr int kPerThread = 500;
    std::vector<std::vector<std::string>> made(kThreads);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int i = 0; i < kPerThread; ++i) {
                made[t].push_back(generateJobId());
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::set<std::string> seen;
    for (const auto& ids : made) {
        for (const std::string& id : ids) {
            ASSERT_TRUE(isJobId(id)) << id;
            seen.insert(id);
        }
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kPerThread));
}

}  // namespace
}  // namespace velk::server
