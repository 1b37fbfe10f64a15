#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/JsonUtils.h"
#include "engine/ISettingsProvider.h"

namespace velk::agent {

// The per-user settings in memory and in settings.json. The file is read once,
// at construction (an older layout is rewritten in the current one at once);
// from then on every change is saved. The identifier and the API key of each
// sender are stored protected (CryptoStore). A FIFO, a socket or a device in
// the file's place is left as it is: the store then starts empty and lives in
// memory, each save failing with a line that says why.
//
// One plain mutex guards the state. Changing calls release it before they save
// (save takes it again) and call the listeners after that, without it.
class FileSettings final : public core::ISettingsProvider {
public:
    explicit FileSettings(std::string path);
    ~FileSettings() override = default;
    FileSettings(const FileSettings&) = delete;
    FileSettings& operator=(const FileSettings&) = delete;

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
    std::optional<std::int64_t> reserved() const override;
    std::string restSubmitUrl() const override;
    std::string restStatusUrl() const override;
    bool cloudEnabled() const override;
    std::string cloudBaseUrl() const override;
    std::string cloudPublicKey() const override;
    std::string cloudIssuer() const override;
    void addChangeListener(std::function<void()> listener) override;
    bool lastSaveSucceeded() const override;

    // Writes settings.json atomically: a failed or interrupted save leaves the
    // previous file as it was. False, after an ERROR line, when it could not
    // be written.
    bool save();

private:
    // A sender as loaded. A protected value that could not be opened (another
    // user's blob, a damaged one, a form of another platform) reads as empty,
    // and its stored form is kept here and written back unchanged until the
    // sender is given a new value, so a save never destroys it.
    struct StoredSender {
        core::SenderProfile profile;
        std::string sealedIdentifier;
        std::string sealedApiKey;
    };

    // Values of a known key with the wrong type are named in `mistyped`, each
    // prefixed with `where`.
    static StoredSender credentialsFromJson(const core::json& object, std::string_view where,
                                            std::vector<std::string>& mistyped);
    void reload();
    // Takes values out of root (the cloud keys are moved, not copied).
    void loadObject(core::json& root);
    void keepAsideAsBad();
    bool keepCopyBeforeWrite();
    void notifyChanged();
    StoredSender* findSender(const std::string& id);
    const StoredSender* findSender(const std::string& id) const;
    const core::SenderProfile* activeSender() const;
    std::string restUrl(const std::string& storedOverride, std::string_view path) const;

    std::string path_;
    mutable std::mutex mutex_;
    std::vector<StoredSender> senders_;
    std::string activeId_;
    std::string restSubmitUrl_;
    std::string restStatusUrl_;
    bool cloudEnabled_ = false;
    std::string cloudBaseUrl_;
    std::string cloudPublicKey_;
    std::string cloudIssuer_;
    // The cloud keys exactly as the file had them: the store never changes
    // them, and dropping them would silently turn the token checks off.
    core::json cloudKeysAsRead_ = core::json::object();
    // The file already has the current layout ("schemaVersion" > 1).
    bool currentLayout_ = false;
    // The file held values of the wrong type, which the next save drops: a
    // copy of it is kept first.
    bool keepCopyBeforeWrite_ = false;
    std::vector<std::function<void()>> listeners_;
    // The outcome of the most recent save.
    bool lastSaveOk_ = true;
};

}  // namespace velk::agent
