#include "fakes/agency/AgencyPortalState.h"

#include "fakes/agency/AgencyData.h"

namespace velk::test {

AgencyPortalState::AgencyPortalState() {
    restoreDefaults();
}

std::string AgencyPortalState::openSession() {
    std::lock_guard lock(mutex_);
    ++sessionsOpened_;
    std::string session = "s3ss10n-VALUE-" + std::to_string(sessionsOpened_);
    liveSessions_.insert(session);
    return session;
}

bool AgencyPortalState::isLive(const std::optional<std::string>& session) const {
    std::lock_guard lock(mutex_);
    return session && liveSessions_.contains(*session);
}

void AgencyPortalState::expireSessions() {
    std::lock_guard lock(mutex_);
    liveSessions_.clear();
}

int AgencyPortalState::sessionsOpened() const {
    std::lock_guard lock(mutex_);
    return sessionsOpened_;
}

std::string AgencyPortalState::csrfToken() const {
    std::lock_guard lock(mutex_);
    return "csrf-" + std::to_string(csrfGeneration_);
}

void AgencyPortalState::renewCsrfToken() {
    std::lock_guard lock(mutex_);
    ++csrfGeneration_;
}

void AgencyPortalState::setTaxpayersJson(std::string json) {
    std::lock_guard lock(mutex_);
    taxpayersJson_ = std::move(json);
}

std::string AgencyPortalState::taxpayersJson() const {
    std::lock_guard lock(mutex_);
    return taxpayersJson_;
}

void AgencyPortalState::setCatalogueJson(std::string json) {
    std::lock_guard lock(mutex_);
    catalogueJson_ = std::move(json);
}

std::string AgencyPortalState::catalogueJson() const {
    std::lock_guard lock(mutex_);
    return catalogueJson_;
}

void AgencyPortalState::queueServiceSelectStatuses(const std::vector<int>& statuses) {
    std::lock_guard lock(mutex_);
    serviceSelectStatuses_.insert(serviceSelectStatuses_.end(), statuses.begin(), statuses.end());
}

std::optional<int> AgencyPortalState::nextServiceSelectStatus() {
    std::lock_guard lock(mutex_);
    if (serviceSelectStatuses_.empty()) {
        return std::nullopt;
    }
    const int status = serviceSelectStatuses_.front();
    serviceSelectStatuses_.pop_front();
    return status;
}

void AgencyPortalState::restoreDefaults() {
    std::lock_guard lock(mutex_);
    taxpayersJson_ = defaultTaxpayersJson();
    catalogueJson_ = defaultCatalogueJson();
    serviceSelectStatuses_.clear();
}

}  // namespace velk::test
