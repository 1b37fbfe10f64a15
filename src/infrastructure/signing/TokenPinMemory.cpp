#include "infrastructure/signing/TokenPinMemory.h"

#include "platform/SecureWipe.h"

namespace velk::signing {

TokenPinMemory::~TokenPinMemory() {
    for (auto& [slot, entry] : entries_) {
        platform::secureWipe(entry.pin);
    }
}

void TokenPinMemory::remember(unsigned long slotId, const std::string& tokenSerial, const std::string& pin) {
    Entry& entry = entries_[slotId];
    platform::secureWipe(entry.pin);
    entry.tokenSerial = tokenSerial;
    entry.pin = pin;
}

std::optional<std::string> TokenPinMemory::recall(unsigned long slotId, const std::string& tokenSerial) {
    const auto it = entries_.find(slotId);
    if (it == entries_.end()) {
        return std::nullopt;
    }
    if (it->second.tokenSerial != tokenSerial) {
        forget(slotId);
        return std::nullopt;
    }
    return it->second.pin;
}

void TokenPinMemory::forget(unsigned long slotId) {
    const auto it = entries_.find(slotId);
    if (it != entries_.end()) {
        platform::secureWipe(it->second.pin);
        entries_.erase(it);
    }
}

}  // namespace velk::signing
