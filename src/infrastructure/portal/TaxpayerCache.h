#pragma once

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/PortalRecords.h"

namespace velk::core::infra::portal {

// The taxpayer lists of the process, one per certificate id. Holds only
// non-empty lists and never replaces one, so a reference it hands out stays
// valid for the life of the process (the map's nodes do not move).
class TaxpayerCache {
public:
    static TaxpayerCache& instance();

    // Null when the certificate has no list yet.
    const std::vector<Taxpayer>* find(const std::string& certificateId) const;
    // Stores a non-empty list unless one is there already; returns the stored
    // list, which wins over the new one.
    const std::vector<Taxpayer>& insert(const std::string& certificateId, std::vector<Taxpayer> list);

    // Tests only: forgets every list, invalidating the references handed out.
    void clear();

private:
    mutable std::mutex mutex_;
    std::unordered_map<std::string, std::vector<Taxpayer>> lists_;
};

}  // namespace velk::core::infra::portal
