#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velk::test {

// What the fake portal remembers between requests: the live sessions, the
// CSRF token, the data it serves and the scripted answers. The server's
// threads and the test share it, so every member is behind one mutex.
class AgencyPortalState {
public:
    AgencyPortalState();

    // A new live session; returns its cookie value.
    std::string openSession();
    bool isLive(const std::optional<std::string>& session) const;
    void expireSessions();
    int sessionsOpened() const;

    // The token "/auth/users/me" gives; a taxpayer selection changes it.
    std::string csrfToken() const;
    void renewCsrfToken();

    void setTaxpayersJson(std::string json);
    std::string taxpayersJson() const;
    void setCatalogueJson(std::string json);
    std::string catalogueJson() const;

    // The next service selections answer these statuses, one each.
    void queueServiceSelectStatuses(const std::vector<int>& statuses);
    std::optional<int> nextServiceSelectStatus();

    // Back to the default data and no scripted answers; sessions stay.
    void restoreDefaults();

private:
    mutable std::mutex mutex_;
    std::set<std::string> liveSessions_;
    int sessionsOpened_ = 0;
    int csrfGeneration_ = 1;
    std::string taxpayersJson_;
    std::string catalogueJson_;
    std::deque<int> serviceSelectStatuses_;
};

}  // namespace velk::test
