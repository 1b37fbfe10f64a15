#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace velk::server {

// Single use of submission token ids. Ids live in memory only: after a restart
// every id is new again.
class TokenReplayCache {
public:
    // Monotonic time in nanoseconds.
    using SteadyClock = std::function<std::int64_t()>;

    // How long an id is kept: an inquiry's token for this long, a submission's
    // token until it expires but never less than this...
    static constexpr std::chrono::seconds kTtl{60};
    // ...and never longer than this, so the map stays bounded.
    static constexpr std::chrono::seconds kMaxKeep{24 * 60 * 60};

    TokenReplayCache();
    explicit TokenReplayCache(SteadyClock now);
    TokenReplayCache(const TokenReplayCache&) = delete;
    TokenReplayCache& operator=(const TokenReplayCache&) = delete;

    // True when the id was not in use and is now recorded for kTtl; false for
    // an empty id or one still recorded.
    bool markUsed(std::string_view jti);
    // The same, keeping the id for keepFor clamped to [kTtl, kMaxKeep].
    bool markUsed(std::string_view jti, std::chrono::seconds keepFor);

private:
    SteadyClock now_;
    std::mutex mutex_;
    // Token id -> the steady time (ns) at which it may be used again.
    std::unordered_map<std::string, std::int64_t> seen_;
};

}  // namespace velk::server
