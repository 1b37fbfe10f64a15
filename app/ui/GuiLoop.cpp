#include "ui/GuiLoop.h"

namespace velk::ui {

GuiLoop::GuiLoop() : state_(std::make_shared<State>()) {}

GuiLoop& GuiLoop::application() {
    static GuiLoop loop;
    return loop;
}

void GuiLoop::markEnded() {
    {
        std::lock_guard lock(state_->mutex);
        state_->ended = true;
    }
    state_->changed.notify_all();
}

bool GuiLoop::ended() const {
    std::lock_guard lock(state_->mutex);
    return state_->ended;
}

bool GuiLoop::post(QObject* context, std::function<void()> task) {
    if (context == nullptr || ended()) {
        return false;
    }
    std::shared_ptr<State> state = state_;
    return QMetaObject::invokeMethod(
        context,
        [state, task = std::move(task)] {
            {
                std::lock_guard lock(state->mutex);
                if (state->ended) {
                    return;
                }
            }
            task();
        },
        Qt::QueuedConnection);
}

}  // namespace velk::ui
