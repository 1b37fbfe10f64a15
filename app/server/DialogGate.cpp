#include "server/DialogGate.h"

#include <mutex>
#include <unordered_map>
#include <utility>

namespace velk::server {

struct DialogGate::State {
    std::mutex mutex;
    bool taken = false;
    // Requester -> the steady time (ns) from which it may ask again. Each
    // entry costs the user a decline, and expired ones go at the next look,
    // so the map stays small.
    std::unordered_map<std::string, std::int64_t> heldUntil;

    void forgetExpired(std::int64_t now) {
        std::erase_if(heldUntil, [now](const auto& entry) { return entry.second <= now; });
    }
};

namespace {

constexpr std::int64_t kDeclineHoldNs =
    std::chrono::duration_cast<std::chrono::nanoseconds>(DialogGate::kDeclineHold).count();

}  // namespace

DialogGate::DialogGate(SteadyClock now) : now_(std::move(now)), state_(std::make_shared<State>()) {}

DialogGate::Turn DialogGate::tryEnter() {
    return claim(nullptr);
}

DialogGate::Turn DialogGate::tryEnter(const std::string& requester) {
    return claim(&requester);
}

DialogGate::Turn DialogGate::claim(const std::string* requester) {
    const std::int64_t now = requester != nullptr ? now_() : 0;
    {
        // The hold is read under the same lock as the claim: a decline that
        // ends the turn held now is noted before that turn goes.
        std::lock_guard lock(state_->mutex);
        if (state_->taken) {
            return {};
        }
        if (requester != nullptr) {
            state_->forgetExpired(now);
            if (state_->heldUntil.contains(*requester)) {
                return {};
            }
        }
        state_->taken = true;
    }
    // The turn keeps the state alive: the last dialog may close after the
    // server has gone.
    std::shared_ptr<State> state = state_;
    return Turn(state.get(), [state](const void*) {
        std::lock_guard lock(state->mutex);
        state->taken = false;
    });
}

void DialogGate::holdBack(const std::string& requester) {
    const std::int64_t now = now_();
    std::lock_guard lock(state_->mutex);
    state_->forgetExpired(now);
    state_->heldUntil[requester] = now + kDeclineHoldNs;
}

}  // namespace velk::server
