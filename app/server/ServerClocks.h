#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <stop_token>

#include "server/TokenReplayCache.h"

namespace velk::server {

// The clocks and time limits the local API keeps; an empty clock stands for
// the system's.
struct ServerClocks {
    // Wall-clock seconds since 1970-01-01 UTC: token expiry.
    std::function<std::int64_t()> wallSeconds;
    // Monotonic nanoseconds: the replay guard and the dialog gate's hold on a
    // requester the user declined.
    TokenReplayCache::SteadyClock steadyNs;
    // How long a dialog waits for the user before it closes as cancelled;
    // zero stands for kDialogTimeLimit.
    std::chrono::milliseconds dialogTimeLimit{0};
    // For tests: a token whose stop counts as the dialog time limit having
    // passed, asked for each dialog; empty: only the time limit counts.
    std::function<std::stop_token()> dialogTimeUp;

    static constexpr std::chrono::minutes kDialogTimeLimit{5};
};

}  // namespace velk::server
