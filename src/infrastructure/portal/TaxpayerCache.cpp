#include "infrastructure/portal/TaxpayerCache.h"

namespace velk::core::infra::portal {

TaxpayerCache& TaxpayerCache::instance() {
    static TaxpayerCache cache;
    return cache;
}

const std::vector<Taxpayer>* TaxpayerCache::find(const std::string& certificateId) const {
    std::lock_guard lock(mutex_);
    const auto it = lists_.find(certificateId);
    return it == lists_.end() ? nullptr : &it->second;
}

const std::vector<Taxpayer>& TaxpayerCache::insert(const std::string& certificateId,
                                                   std::vector<Taxpayer> list) {
    std::lock_guard lock(mutex_);
    return lists_.try_emplace(certificateId, std::move(list)).first->second;
}

void TaxpayerCache::clear() {
    std::lock_guard lock(mutex_);
    lists_.clear();
}

}  // namespace velk::core::infra::portal
