#pragma once

#include <cstdint>
#include <functional>

#include "server/TokenReplayCache.h"

namespace velk::server {

// The clocks the local API reads; an empty one stands for the system's.
struct ServerClocks {
    // Wall-clock seconds since 1970-01-01 UTC: token expiry.
    std::function<std::int64_t()> wallSeconds;
    // Monotonic nanoseconds: the replay guard.
    TokenReplayCache::SteadyClock steadyNs;
};

}  // namespace velk::server
