#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace velk::ui {

// Whether the GUI thread's event loop still runs, and the calls into that
// thread that depend on it. Once the loop has ended nothing queued for the
// GUI thread will run, so a call made then answers "cancelled" at once
// instead of waiting for a dialog that will never come, and a call that was
// waiting gives up. Safe from any thread.
class GuiLoop {
public:
    GuiLoop();

    // The process's gate. Start-up calls markEnded on it once
    // QApplication::exec has returned.
    static GuiLoop& application();

    void markEnded();
    bool ended() const;

    // Queues task onto context's thread. Dropped unrun (false) once the loop
    // has ended; a task whose turn comes only after the end never runs.
    bool post(QObject* context, std::function<void()> task);

    // Runs work on context's thread and waits for its result: directly when
    // already on that thread (a blocking queued call to oneself would never
    // return), else queued. Answers cancelled without running work once the
    // loop has ended, also when it ends while this waits, and when the task
    // is dropped unrun (context destroyed). An exception from work is
    // rethrown here.
    template <typename Result>
    Result call(QObject* context, std::function<Result()> work, Result cancelled);

private:
    struct State {
        mutable std::mutex mutex;
        std::condition_variable changed;
        bool ended = false;
    };
    std::shared_ptr<State> state_;
};

template <typename Result>
Result GuiLoop::call(QObject* context, std::function<Result()> work, Result cancelled) {
    if (context == nullptr || ended()) {
        return cancelled;
    }
    if (QThread::currentThread() == context->thread()) {
        return work();
    }

    // Shared with the queued task, which may run or be destroyed after the
    // caller has given up; the last owner to go reports an unrun task.
    struct Call {
        std::shared_ptr<State> state;
        std::optional<Result> result;
        std::exception_ptr error;
        bool finished = false;
        bool abandoned = false;

        void finish() {
            {
                std::lock_guard lock(state->mutex);
                finished = true;
            }
            state->changed.notify_all();
        }
    };
    struct Completion {
        std::shared_ptr<Call> call;
        ~Completion() {
            if (call) {
                call->finish();  // no-op for the waiter when it already finished
            }
        }
    };
    auto call = std::make_shared<Call>();
    call->state = state_;
    auto completion = std::make_shared<Completion>();
    completion->call = call;

    const bool queued = QMetaObject::invokeMethod(
        context,
        [completion, work = std::move(work)] {
            Call& call = *completion->call;
            {
                std::lock_guard lock(call.state->mutex);
                if (call.abandoned || call.state->ended || call.finished) {
                    return;
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
                std::lock_guard lock(call.state->mutex);
                call.result = std::move(result);
                call.error = error;
            }
            call.finish();
        },
        Qt::QueuedConnection);
    completion.reset();  // the queued task holds the only reference now
    if (!queued) {
        return cancelled;
    }

    std::unique_lock lock(state_->mutex);
    state_->changed.wait(lock, [&] { return call->finished || state_->ended; });
    if (!call->finished || (!call->result && !call->error)) {
        call->abandoned = true;
        return cancelled;
    }
    if (call->error) {
        std::rethrow_exception(call->error);
    }
    return std::move(*call->result);
}

}  // namespace velk::ui
