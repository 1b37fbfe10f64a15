#pragma once

#include <optional>
#include <string>

#include "platform/PinPrompt.h"

namespace velk::platform {

// The key provider's process-wide PIN knowledge for store certificates: PINs
// a key accepted, per certificate id (so a later use, such as the TLS
// handshake, does not ask again), and the prompt asked when none is known.
// Never persisted. Safe from any thread; the prompt runs outside the lock.
class ProviderPinCache {
public:
    static void remember(const std::string& certificateId, const std::string& pin);
    static std::optional<std::string> lookup(const std::string& certificateId);
    static void forget(const std::string& certificateId);
    static void clear();

    // An empty prompt restores the default, which cancels.
    static void setPrompt(PinPrompt prompt);
    static PinAnswer prompt(const PinRequest& request);
};

}  // namespace velk::platform
