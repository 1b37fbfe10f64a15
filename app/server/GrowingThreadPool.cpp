#include "server/GrowingThreadPool.h"

#include <system_error>
#include <utility>

#include "common/Logger.h"

namespace velk::server {

GrowingThreadPool::GrowingThreadPool(std::size_t maxThreads)
    : maxThreads_(maxThreads == 0 ? 1 : maxThreads) {}

GrowingThreadPool::~GrowingThreadPool() {
    shutdown();
}

void GrowingThreadPool::enqueue(std::function<void()> task) {
    {
        const std::lock_guard lock(mutex_);
        if (!stopping_ && (tasks_.size() < idle_ || threads_.size() >= maxThreads_ || startWorker())) {
            tasks_.push_back(std::move(task));
            task = nullptr;
        }
    }
    if (task) {
        // Stopped, or no worker could be started and none exists: the
        // caller's thread serves this connection rather than leaving it
        // unanswered.
        task();
        return;
    }
    wake_.notify_one();
}

void GrowingThreadPool::shutdown() {
    std::vector<std::thread> threads;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        threads.swap(threads_);
    }
    wake_.notify_all();
    for (std::thread& thread : threads) {
        thread.join();
    }
}

std::size_t GrowingThreadPool::threadCount() const {
    const std::lock_guard lock(mutex_);
    return threads_.size();
}

std::size_t GrowingThreadPool::idleCount() const {
    const std::lock_guard lock(mutex_);
    return idle_;
}

bool GrowingThreadPool::stopping() const {
    const std::lock_guard lock(mutex_);
    return stopping_;
}

bool GrowingThreadPool::startWorker() {
    try {
        threads_.emplace_back([this] { work(); });
        return true;
    } catch (const std::system_error& e) {
        core::logLine(core::LogLevel::Warn,
                      std::string("HTTP server: cannot start another worker: ") + e.what());
        // The started workers take the task in turn.
        return !threads_.empty();
    }
}

void GrowingThreadPool::work() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            ++idle_;
            wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            --idle_;
            if (tasks_.empty()) {
                return;  // stopping, and nothing is left to run
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

}  // namespace velk::server
