#pragma once

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
// stopping server never waits for a dialog that will not come. An exception
// thrown by work is rethrown here. Never call it from the GUI thread.
template <typename Result>
Result callOnGuiThread(GuiThreadObject& target, std::function<Result()> work, std::stop_token stop,
                       Result cancelled) {
    // Shared with the queued task, which may run (or be destroyed) after the
    // caller has given up.
    struct Call {
        std::mutex mutex;
        std::condition_variable_any done;
        std::optional<Result> result;
        std::exception_ptr error;
        bool finished = false;
        bool abandoned = false;
    };
    auto call = std::make_shared<Call>();
    if (stop.stop_requested()) {
        return cancelled;
    }
    target.post([call, work = std::move(work)] {
        {
            std::lock_guard lock(call->mutex);
            if (call->abandoned) {
                return;  // nobody waits for this dialog any more
            }
        }
        std::optional<Result> result;
        std::exception_ptr error;
        try {
            result.emplace(work());
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(call->mutex);
            call->result = std::move(result);
            call->error = error;
            call->finished = true;
        }
        call->done.notify_all();
    });

    std::unique_lock lock(call->mutex);
    if (!call->done.wait(lock, stop, [&] { return call->finished; })) {
        call->abandoned = true;
        return cancelled;
    }
    if (call->error) {
        std::rethrow_exception(call->error);
    }
    return std::move(*call->result);
}

}  // namespace velk::server
