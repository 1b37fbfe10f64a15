#include "infrastructure/portal/CategoryCache.h"

namespace velk::core::infra::portal {

CategoryCache& CategoryCache::instance() {
    static CategoryCache cache;
    return cache;
}

const std::vector<Category>& CategoryCache::getOrLoad(const Loader& loader) {
    static const std::vector<Category> kEmpty;
    std::lock_guard lock(mutex_);
    if (loaded_) {
        return categories_;
    }
    std::optional<std::vector<Category>> loadedList = loader();
    if (!loadedList || loadedList->empty()) {
        return kEmpty;
    }
    categories_ = std::move(*loadedList);
    loaded_ = true;
    return categories_;
}

void CategoryCache::clear() {
    std::lock_guard lock(mutex_);
    categories_.clear();
    loaded_ = false;
}

}  // namespace velk::core::infra::portal
