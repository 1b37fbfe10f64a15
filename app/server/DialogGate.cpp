#include "server/DialogGate.h"

#include <atomic>

namespace velk::server {

struct DialogGate::State {
    std::atomic<bool> taken{false};
};

DialogGate::DialogGate() : state_(std::make_shared<State>()) {}

DialogGate::Turn DialogGate::tryEnter() {
    if (state_->taken.exchange(true)) {
        return {};
    }
    // The turn keeps the state alive: the last dialog may close after the
    // server has gone.
    std::shared_ptr<State> state = state_;
    return Turn(state.get(), [state](const void*) { state->taken = false; });
}

}  // namespace velk::server
