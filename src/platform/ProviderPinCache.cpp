#include "platform/ProviderPinCache.h"

#include <map>
#include <mutex>

#include "platform/SecureWipe.h"

namespace velk::platform {

namespace {

struct PinState {
    std::mutex mutex;
    std::map<std::string, std::string> pins;
    PinPrompt prompt;

    ~PinState() {
        for (auto& [id, pin] : pins) {
            secureWipe(pin);
        }
    }
};

PinState& state() {
    static PinState s;
    return s;
}

}  // namespace

void ProviderPinCache::remember(const std::string& certificateId, const std::string& pin) {
    PinState& s = state();
    std::lock_guard lock(s.mutex);
    std::string& slot = s.pins[certificateId];
    secureWipe(slot);
    slot = pin;
}

std::optional<std::string> ProviderPinCache::lookup(const std::string& certificateId) {
    PinState& s = state();
    std::lock_guard lock(s.mutex);
    const auto it = s.pins.find(certificateId);
    if (it == s.pins.end()) {
        return std::nullopt;
    }
    return it->second;
}

void ProviderPinCache::forget(const std::string& certificateId) {
    PinState& s = state();
    std::lock_guard lock(s.mutex);
    const auto it = s.pins.find(certificateId);
    if (it != s.pins.end()) {
        secureWipe(it->second);
        s.pins.erase(it);
    }
}

void ProviderPinCache::clear() {
    PinState& s = state();
    std::lock_guard lock(s.mutex);
    for (auto& [id, pin] : s.pins) {
        secureWipe(pin);
    }
    s.pins.clear();
}

void ProviderPinCache::setPrompt(PinPrompt prompt) {
    PinState& s = state();
    std::lock_guard lock(s.mutex);
    s.prompt = std::move(prompt);
}

PinAnswer ProviderPinCache::prompt(const PinRequest& request) {
    PinPrompt prompt;
    {
        PinState& s = state();
        std::lock_guard lock(s.mutex);
        prompt = s.prompt;
    }
    // A dialog may take long: never ask while holding the lock.
    return prompt ? prompt(request) : PinAnswer{};
}

}  // namespace velk::platform
