#include "infrastructure/java/RunDeadline.h"

#include <utility>

namespace velk::core::infra::java {

RunDeadline::RunDeadline(std::chrono::milliseconds limit, std::function<void()> onExpiry)
    : onExpiry_(std::move(onExpiry)), watcher_([this, limit] {
          std::unique_lock lock(mutex_);
          if (cancelled_.wait_for(lock, limit, [this] { return over_; })) {
              return;
          }
          expired_ = true;
          if (onExpiry_) {
              onExpiry_();
          }
      }) {}

RunDeadline::~RunDeadline() {
    {
        std::lock_guard lock(mutex_);
        over_ = true;
    }
    cancelled_.notify_one();
    watcher_.join();
}

bool RunDeadline::expired() const {
    std::lock_guard lock(mutex_);
    return expired_;
}

}  // namespace velk::core::infra::java
