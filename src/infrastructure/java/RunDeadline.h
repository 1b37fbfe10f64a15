#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace velk::core::infra::java {

// Ends a run that goes on past its time: a thread waits until the limit or
// until the object goes, whichever comes first, and calls onExpiry at the
// limit (on that thread). The destructor stops and joins the thread, so
// onExpiry never runs after it.
class RunDeadline {
public:
    RunDeadline(std::chrono::milliseconds limit, std::function<void()> onExpiry);
    ~RunDeadline();
    RunDeadline(const RunDeadline&) = delete;
    RunDeadline& operator=(const RunDeadline&) = delete;

    // Whether onExpiry has run.
    bool expired() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable cancelled_;
    bool over_ = false;
    bool expired_ = false;
    std::function<void()> onExpiry_;
    std::thread watcher_;  // last: starts once the rest is made
};

}  // namespace velk::core::infra::java
