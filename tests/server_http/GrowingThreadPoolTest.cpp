#include "server/GrowingThreadPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "support/PollUntil.h"

namespace velk::test {
namespace {

using server::GrowingThreadPool;

// Tasks that hold their worker until released, as kept-open connections do.
class HeldTasks {
public:
    std::function<void()> task() {
        return [this] {
            std::unique_lock lock(mutex_);
            ++running_;
            threads_.insert(std::this_thread::get_id());
            changed_.notify_all();
            changed_.wait_for(lock, kPollDeadline, [this] { return released_; });
            --running_;
            ++finished_;
            changed_.notify_all();
        };
    }
    bool waitRunning(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPollDeadline, [&] { return running_ == count; });
    }
    bool waitFinished(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPollDeadline, [&] { return finished_ == count; });
    }
    void release() {
        const std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    std::size_t distinctThreads() {
        const std::lock_guard lock(mutex_);
        return threads_.size();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int running_ = 0;
    int finished_ = 0;
    bool released_ = false;
    std::set<std::thread::id> threads_;
};

template <class Done>
bool waitFor(Done done) {
    return pollUntil(done, [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
}

bool waitIdle(const GrowingThreadPool& pool, std::size_t count) {
    return waitFor([&] { return pool.idleCount() == count; });
}

// A worker is started only for a task that finds none idle, and a worker
// that has finished its task takes the next one: a pool that started a
// thread per task would end this test with six.
TEST(GrowingThreadPoolTest, StartsAWorkerOnlyForATaskThatFindsNoneIdleAndReusesIdleOnes) {
    GrowingThreadPool pool(8);
    EXPECT_EQ(pool.threadCount(), 0u);

    HeldTasks first;
    for (int i = 1; i <= 3; ++i) {
        pool.enqueue(first.task());
        ASSERT_TRUE(first.waitRunning(i)) << "task " << i << " did not start";
    }
    EXPECT_EQ(pool.threadCount(), 3u);
    first.release();
    ASSERT_TRUE(first.waitFinished(3));
    ASSERT_TRUE(waitIdle(pool, 3)) << "the workers did not go idle";

    HeldTasks second;
    for (int i = 1; i <= 3; ++i) {
        pool.enqueue(second.task());
        ASSERT_TRUE(second.waitRunning(i)) << "task " << i << " of the second round did not start";
    }
    EXPECT_EQ(pool.threadCount(), 3u);
    second.release();
    ASSERT_TRUE(second.waitFinished(3));
    pool.shutdown();
    EXPECT_EQ(first.distinctThreads(), 3u);
    EXPECT_EQ(second.distinctThreads(), 3u);
}

// More held tasks than workers: the pool stops growing at its bound and the
// rest wait their turn; none is lost.
TEST(GrowingThreadPoolTest, StopsGrowingAtItsBoundAndRunsTheRestInTurn) {
    GrowingThreadPool pool(3);
    HeldTasks held;
    for (int i = 0; i < 7; ++i) {
        pool.enqueue(held.task());
    }
    ASSERT_TRUE(held.waitRunning(3));
    EXPECT_EQ(pool.threadCount(), 3u);
    held.release();
    ASSERT_TRUE(held.waitFinished(7));
    EXPECT_EQ(pool.threadCount(), 3u);
    pool.shutdown();
}

// Tasks still queued when the pool shuts down run before the threads are
// joined, and a task given after that runs on the caller's thread.
TEST(GrowingThreadPoolTest, ShutdownRunsWhatIsQueuedAndLaterTasksRunOnTheCaller) {
    GrowingThreadPool pool(1);
    HeldTasks held;
    std::atomic<int> ran{0};
    pool.enqueue(held.task());
    ASSERT_TRUE(held.waitRunning(1));
    for (int i = 0; i < 5; ++i) {
        pool.enqueue([&ran] { ++ran; });
    }
    // The held task is let go only once shutdown has begun, so the queued
    // tasks are still waiting when it does.
    std::thread releaser([&held, &pool] {
        EXPECT_TRUE(waitFor([&] { return pool.stopping(); })) << "shutdown did not begin";
        held.release();
    });
    pool.shutdown();
    releaser.join();
    EXPECT_EQ(ran.load(), 5);
    EXPECT_EQ(pool.threadCount(), 0u);

    std::thread::id ranOn;
    pool.enqueue([&ranOn] { ranOn = std::this_thread::get_id(); });
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

}  // namespace
}  // namespace velk::test
