#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/ISettingsProvider.h"

namespace velk::test {

// The settings store in memory, with the real store's contract (one mutex,
// listeners called after a change on the changing thread with no lock held)
// and a few hooks for tests.
class InMemorySettings : public core::ISettingsProvider {
public:
    std::vector<core::SenderProfile> listSenders() const override;
    std::optional<std::string> activeSenderId() const override;
    std::optional<core::SenderProfile> getSender(const std::string& id) const override;
    std::string upsertSender(const core::SenderProfile& sender) override;
    void removeSender(const std::string& id) override;
    void setActiveSender(const std::string& id) override;
    std::optional<std::string> activeIdentifier() const override;
    std::optional<std::string> activeIdentifierType() const override;
    std::optional<std::string> activeCertificateId() const override;
    std::optional<std::string> activeApiKey() const override;
    std::optional<std::int64_t> reserved() const override { return std::nullopt; }
    std::string restSubmitUrl() const override { return {}; }
    std::string restStatusUrl() const override { return {}; }
    bool cloudEnabled() const override;
    std::string cloudBaseUrl() const override { return {}; }
    std::string cloudPublicKey() const override;
    std::string cloudIssuer() const override;
    void addChangeListener(std::function<void()> listener) override;
    // Nothing is written, so nothing fails.
    bool lastSaveSucceeded() const override { return true; }

    // Test controls.
    void setCloud(bool enabled, std::string publicKeyPem, std::string issuer);
    // Called at the start of setActiveSender, without the lock.
    void onSetActiveSender(std::function<void(const std::string&)> hook);
    // Called at the start of listSenders (it may throw).
    void onListSenders(std::function<void()> hook);
    // How many calls reached the store.
    int calls() const { return calls_.load(); }

private:
    std::optional<core::SenderProfile> activeLocked() const;
    void notifyListeners();

    mutable std::mutex mutex_;
    std::vector<core::SenderProfile> senders_;
    std::string activeId_;
    bool cloudEnabled_ = false;
    std::string publicKeyPem_;
    std::string issuer_ = "velk-cloud";
    std::vector<std::function<void()>> listeners_;
    std::function<void(const std::string&)> setActiveHook_;
    std::function<void()> listSendersHook_;
    mutable std::atomic<int> calls_{0};
};

// A sender whose fields all derive from the id, so tests can tell them apart.
core::SenderProfile testSender(const std::string& id);

}  // namespace velk::test
