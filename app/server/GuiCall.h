#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <utility>

#include "server/GuiThreadObject.h"

namespace velk::server {

// Runs work on target's GUI thread and waits for its result: a blocking
// queued call that gives up with `cancelled` once stop is requested, so a
// stopping server never waits for a dialog that will not come, or once
// timeLimit has passed, so no caller waits for the user without end (the
// caller of a request cannot be told apart from one that has gone). On giving
// up it has target close the dialog, if that is open. An exception thrown by
// work is rethrown here. A stop requested on timeUp counts as the time limit
// having passed (a test's clock). Never call it from the GUI thread.
template <typename Result>
Result callOnGuiThread(GuiThreadObject& target, std::function<Result()> work, std::stop_token stop,
                       Result cancelled, std::chrono::milliseconds timeLimit, std::stop_token timeUp = {}) {
    // Shared with the queued task, which may run (or be destroyed) after the
    // caller has given up.
    struct Call {
        std::mutex mutex;
        std::condition_variable_any done;
        std::optional<Result> result;
        std::exception_ptr error;
        bool finished = false;
        bool abandoned = false;
        bool running = false;  // work is on the GUI thread's stack
        bool timeUp = false;

        void finish() {
            {
                std::lock_guard lock(mutex);
                finished = true;
            }
            done.notify_all();
        }
    };
    // Held only by the queued task: when the target drops the task unrun (the
    // event loop has ended, the object went), its destruction answers the
    // caller at once instead of leaving it to wait for the stop.
    struct Completion {
        std::shared_ptr<Call> call;
        ~Completion() {
            if (call) {
                call->finish();
            }
        }
    };
    auto call = std::make_shared<Call>();
    if (stop.stop_requested()) {
        return cancelled;
    }
    auto completion = std::make_shared<Completion>();
    completion->call = call;
    target.post([completion, work = std::move(work)] {
        Call& call = *completion->call;
        {
            std::lock_guard lock(call.mutex);
            if (call.abandoned || call.finished) {
                return;  // nobody waits for this dialog any more
            }
        }
        std::optional<Result> result;
        std::exception_ptr error;
        {
            std::lock_guard lock(call.mutex);
            call.running = true;
        }
        try {
            result.emplace(work());
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(call.mutex);
            call.running = false;
            call.result = std::move(result);
            call.error = error;
        }
        call.finish();
    });
    completion.reset();  // the queued task holds the only reference now

    // Before the lock: a callback for a stop already requested runs here.
    std::stop_callback onTimeUp(timeUp, [call] {
        {
            std::lock_guard lock(call->mutex);
            call->timeUp = true;
        }
        call->done.notify_all();
    });
    std::unique_lock lock(call->mutex);
    call->done.wait_for(lock, stop, timeLimit, [&] { return call->finished || call->timeUp; });
    if (!call->finished || (!call->result && !call->error)) {
        call->abandoned = true;
        const bool mayBeOpen = !call->finished;
        lock.unlock();
        if (mayBeOpen) {
            // Runs inside the dialog's own event loop when the dialog is open;
            // a call that has not started sees that it is abandoned and shows
            // nothing. Only this call's dialog is closed, never a later one.
            target.post([&target, call] {
                bool running = false;
                {
                    std::lock_guard lock(call->mutex);
                    running = call->running;
                }
                if (running) {
                    target.closeDialog();
                }
            });
        }
        return cancelled;
    }
    if (call->error) {
        std::rethrow_exception(call->error);
    }
    return std::move(*call->result);
}

}  // namespace velk::server
