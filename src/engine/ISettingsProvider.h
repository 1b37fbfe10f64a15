#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/CodeTables.h"

namespace velk::core {

// One sender: whose identifier, certificate and API key an operation runs with.
// identifier and apiKey are held in clear here; the store protects them on disk.
struct SenderProfile {
    std::string id;  // "s-" + 12 lower-case hex digits when the store made it
    std::string displayName;
    std::string identifier;
    IdentifierType identifierType = IdentifierType::None;
    std::string certificateId;
    std::string signerEmail;
    std::string apiKey;

    bool operator==(const SenderProfile&) const = default;
};

// The per-user settings as the engine, the local API and the desktop program
// see them. Every call is safe from any thread. Change listeners run on the
// thread that made the change, after the change was saved and with no lock held,
// so a listener may call back into the store.
class ISettingsProvider {
public:
    virtual ~ISettingsProvider() = default;

    // Senders in stored order.
    virtual std::vector<SenderProfile> listSenders() const = 0;
    // Absent when the stored active id is empty.
    virtual std::optional<std::string> activeSenderId() const = 0;
    // Absent for the empty id and for an id no sender has.
    virtual std::optional<SenderProfile> getSender(const std::string& id) const = 0;
    // Adds the sender, or replaces the one with its id in place; an empty id
    // gets a new one. Returns the id.
    virtual std::string upsertSender(const SenderProfile& sender) = 0;
    virtual void removeSender(const std::string& id) = 0;
    // The empty id clears the choice; an unknown non-empty id is ignored.
    virtual void setActiveSender(const std::string& id) = 0;

    // The active sender's values; absent when there is no active sender or the
    // value is empty. The type is absent only without an active sender
    // ("UNKNOWN" for an unset type).
    virtual std::optional<std::string> activeIdentifier() const = 0;
    virtual std::optional<std::string> activeIdentifierType() const = 0;
    virtual std::optional<std::string> activeCertificateId() const = 0;
    virtual std::optional<std::string> activeApiKey() const = 0;

    // A slot kept free in the interface; always absent.
    virtual std::optional<std::int64_t> reserved() const = 0;

    // The agency REST endpoints: the test endpoints when the process runs in
    // test mode, else the stored overrides, else production.
    virtual std::string restSubmitUrl() const = 0;
    virtual std::string restStatusUrl() const = 0;

    // The maker's cloud: whether submission tokens are checked, where the
    // cloud lives, the PEM key that verifies tokens and the issuer they carry.
    virtual bool cloudEnabled() const = 0;
    virtual std::string cloudBaseUrl() const = 0;
    virtual std::string cloudPublicKey() const = 0;
    virtual std::string cloudIssuer() const = 0;

    // Called after every saved change, for the store's lifetime.
    virtual void addChangeListener(std::function<void()> listener) = 0;

    // Whether the most recent write of the settings reached the disk (true
    // before any write). A change is kept in memory even when its save fails,
    // so whoever made it asks here to tell the user.
    virtual bool lastSaveSucceeded() const = 0;
};

}  // namespace velk::core
