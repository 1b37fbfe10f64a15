#include "infrastructure/java/JavaRunGate.h"

#include "infrastructure/java/ProcessRunner.h"

namespace velk::core::infra::java {

JavaRunGate::Entry JavaRunGate::enter(bool waitIfBusy, const std::function<void()>& onWait) {
    std::unique_lock lock(mutex_);
    if (closed_) {
        return Entry::Closed;
    }
    if (busy_) {
        if (!waitIfBusy) {
            return Entry::Busy;
        }
        if (onWait) {
            lock.unlock();
            onWait();
            lock.lock();
        }
        turnFree_.wait(lock, [this] { return closed_ || !busy_; });
        if (closed_) {
            return Entry::Closed;
        }
    }
    busy_ = true;
    return Entry::Entered;
}

void JavaRunGate::leave() {
    {
        std::lock_guard lock(mutex_);
        busy_ = false;
        child_ = nullptr;
    }
    turnFree_.notify_one();
}

bool JavaRunGate::attach(ProcessRunner& runner) {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return false;
    }
    child_ = &runner;
    childEnded_ = false;
    return true;
}

bool JavaRunGate::detach() {
    std::lock_guard lock(mutex_);
    child_ = nullptr;
    return childEnded_;
}

void JavaRunGate::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        if (child_ != nullptr) {
            child_->kill();
            childEnded_ = true;
        }
    }
    turnFree_.notify_all();
}

bool JavaRunGate::isClosed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

}  // namespace velk::core::infra::java
