#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

namespace velk::core::infra::java {

class ProcessRunner;

// One Java run of the bridge at a time (an installation, a validation or a
// filing). A caller enters, waiting for its turn or not, and leaves when its
// run is over; the child it starts is attached meanwhile, so that closing the
// gate at shut-down ends that child's process group. A closed gate turns
// every caller away, those already waiting included.
class JavaRunGate {
public:
    enum class Entry { Entered, Busy, Closed };

    JavaRunGate() = default;
    JavaRunGate(const JavaRunGate&) = delete;
    JavaRunGate& operator=(const JavaRunGate&) = delete;

    // Busy only when waitIfBusy is false. onWait (may be empty) runs on the
    // caller's thread before it waits for another run to end.
    Entry enter(bool waitIfBusy, const std::function<void()>& onWait);
    // By the caller that entered.
    void leave();

    // The entered caller's child, once started. False when the gate has been
    // closed meanwhile: the caller then ends its child itself.
    bool attach(ProcessRunner& runner);
    // Before the child is released; true when closing the gate ended it.
    bool detach();

    // Turns every later and every waiting caller away and ends the attached
    // child. From any thread; once is enough.
    void close();
    bool isClosed() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable turnFree_;
    bool busy_ = false;
    bool closed_ = false;
    ProcessRunner* child_ = nullptr;
    bool childEnded_ = false;
};

}  // namespace velk::core::infra::java
