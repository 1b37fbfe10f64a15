#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "common/PortalRecords.h"

namespace velk::core::infra::portal {

// The portal catalogue, read once per process. The same vector object is
// returned every time, so references stay valid for the life of the process.
class CategoryCache {
public:
    using Loader = std::function<std::optional<std::vector<Category>>()>;

    static CategoryCache& instance();

    // The cached catalogue; when none is loaded yet, runs loader under the
    // lock, so concurrent callers wait for one fetch. A failed load (nullopt)
    // or an empty catalogue leaves the cache unloaded and returns a shared
    // empty list, so the next call asks again: a portal that answered without
    // a session must not empty the catalogue for the life of the process.
    const std::vector<Category>& getOrLoad(const Loader& loader);

    // Tests only: forgets the catalogue.
    void clear();

private:
    std::mutex mutex_;
    std::vector<Category> categories_;
    bool loaded_ = false;
};

}  // namespace velk::core::infra::portal
