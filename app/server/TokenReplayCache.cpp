#include "server/TokenReplayCache.h"

#include <algorithm>

namespace velk::server {

namespace {

std::int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

TokenReplayCache::TokenReplayCache() : TokenReplayCache(steadyNowNs) {}

TokenReplayCache::TokenReplayCache(SteadyClock now) : now_(std::move(now)) {}

bool TokenReplayCache::markUsed(std::string_view jti) {
    return markUsed(jti, kTtl);
}

bool TokenReplayCache::markUsed(std::string_view jti, std::chrono::seconds keepFor) {
    if (jti.empty()) {
        return false;
    }
    const std::int64_t keepNs = std::chrono::nanoseconds(std::clamp(keepFor, kTtl, kMaxKeep)).count();
    const std::int64_t now = now_();

    // Purge, check and record in one step, so two requests with one id cannot
    // both pass.
    std::lock_guard lock(mutex_);
    std::erase_if(seen_, [now](const auto& entry) { return entry.second <= now; });
    return seen_.try_emplace(std::string(jti), now + keepNs).second;
}

}  // namespace velk::server
