#pragma once

#include <httplib.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace velk::server {

// The local API's workers: a thread is started only when a task arrives and
// none is idle, up to a fixed number, and started ones stay. The agent thus
// answers its first caller without first starting every worker, and an agent
// nobody calls holds one. Tasks run in arrival order; shutdown runs the
// queued ones, then joins every thread.
class GrowingThreadPool : public httplib::TaskQueue {
public:
    explicit GrowingThreadPool(std::size_t maxThreads);
    ~GrowingThreadPool() override;
    GrowingThreadPool(const GrowingThreadPool&) = delete;
    GrowingThreadPool& operator=(const GrowingThreadPool&) = delete;

    void enqueue(std::function<void()> task) override;
    void shutdown() override;

    std::size_t threadCount() const;
    // Workers waiting for a task, and whether shutdown has begun: what a
    // caller (and a test) can see of the pool's state without timing it.
    std::size_t idleCount() const;
    bool stopping() const;

private:
    // With the lock held: false when no worker could be started and none runs.
    bool startWorker();
    void work();

    const std::size_t maxThreads_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    std::vector<std::thread> threads_;
    std::size_t idle_ = 0;
    bool stopping_ = false;
};

}  // namespace velk::server
