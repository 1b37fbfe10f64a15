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

TEST(GrowingThreadPoolTest, StartsAWorkerOnlyForATaskThatFindsNoneIdle) {
    GrowingThreadPool pool(8);
    EXPECT_EQ(pool.threadCount(), 0u);

    HeldTasks held;
    for (int i = 1; i <= 3; ++i) {
        pool.enqueue(held.task());
        ASSERT_TRUE(held.waitRunning(i)) << "task " << i << " did not start";
    }
    EXPECT_EQ(pool.threadCount(), 3u);
    held.release();
    ASSERT_TRUE(held.waitFinished(3));
    pool.shutdown();
    EXPECT_EQ(held.distinctThreads(), 3u);
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
    std::thread releaser([&held] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
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
