#include "infrastructure/portal/SessionPin.h"

#include <optional>

#include "common/Logger.h"
#include "infrastructure/signing/PinStore.h"
#include "platform/SecureWipe.h"

namespace velk::core::infra::portal {

SessionPin::~SessionPin() {
    for (auto& entry : pins_) {
        platform::secureWipe(entry.second);
    }
}

void SessionPin::set(const std::string& certificateId, const std::string& pin) {
    if (certificateId.empty()) {
        return;
    }
    if (pin.empty()) {
        forget(certificateId);
        return;
    }
    std::string& held = pins_[certificateId];
    platform::secureWipe(held);
    held = pin;
}

const std::string& SessionPin::pinFor(const std::string& certificateId) const {
    static const std::string kNone;
    const auto it = pins_.find(certificateId);
    return it == pins_.end() ? kNone : it->second;
}

void SessionPin::adoptRemembered(const std::string& certificateId) {
    if (certificateId.empty() || pins_.count(certificateId) != 0) {
        return;
    }
    std::optional<std::string> remembered = signing::PinStore::get(certificateId);
    if (!remembered) {
        return;
    }
    const platform::ScopedWipe wipe(*remembered);
    set(certificateId, *remembered);
}

void SessionPin::refused(const std::string& certificateId) {
    const auto it = pins_.find(certificateId);
    if (it == pins_.end()) {
        return;
    }
    // Only the refused PIN goes: another one stored meanwhile is kept.
    if (std::optional<std::string> remembered = signing::PinStore::get(certificateId)) {
        const platform::ScopedWipe wipe(*remembered);
        if (*remembered == it->second && !signing::PinStore::remove(certificateId)) {
            logLine(LogLevel::Warn, "NapSession: the refused PIN could not be removed from pins.dat");
        }
    }
    forget(certificateId);
    logLine(LogLevel::Warn, "NapSession: the card refused the PIN; it is forgotten and not presented again");
}

void SessionPin::forget(const std::string& certificateId) {
    const auto it = pins_.find(certificateId);
    if (it != pins_.end()) {
        platform::secureWipe(it->second);
        pins_.erase(it);
    }
}

}  // namespace velk::core::infra::portal
