#include "engine/InMemorySettings.h"

#include <algorithm>

#include "common/CodeTables.h"

namespace velk::test {

std::vector<core::SenderProfile> InMemorySettings::listSenders() const {
    ++calls_;
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        hook = listSendersHook_;
    }
    if (hook) {
        hook();
    }
    std::lock_guard lock(mutex_);
    return senders_;
}

std::optional<std::string> InMemorySettings::activeSenderId() const {
    ++calls_;
    std::lock_guard lock(mutex_);
    return activeId_.empty() ? std::nullopt : std::optional(activeId_);
}

std::optional<core::SenderProfile> InMemorySettings::getSender(const std::string& id) const {
    ++calls_;
    std::lock_guard lock(mutex_);
    const auto it = std::find_if(senders_.begin(), senders_.end(), [&](const auto& s) { return s.id == id; });
    return id.empty() || it == senders_.end() ? std::nullopt : std::optional(*it);
}

std::string InMemorySettings::upsertSender(const core::SenderProfile& sender) {
    ++calls_;
    {
        std::lock_guard lock(mutex_);
        const auto it =
            std::find_if(senders_.begin(), senders_.end(), [&](const auto& s) { return s.id == sender.id; });
        if (it != senders_.end()) {
            *it = sender;
        } else {
            senders_.push_back(sender);
        }
    }
    notifyListeners();
    return sender.id;
}

void InMemorySettings::removeSender(const std::string& id) {
    ++calls_;
    {
        std::lock_guard lock(mutex_);
        std::erase_if(senders_, [&](const auto& s) { return s.id == id; });
        if (activeId_ == id) {
            activeId_.clear();
        }
    }
    notifyListeners();
}

void InMemorySettings::setActiveSender(const std::string& id) {
    ++calls_;
    std::function<void(const std::string&)> hook;
    {
        std::lock_guard lock(mutex_);
        hook = setActiveHook_;
    }
    if (hook) {
        hook(id);
    }
    {
        std::lock_guard lock(mutex_);
        const bool known =
            std::any_of(senders_.begin(), senders_.end(), [&](const auto& s) { return s.id == id; });
        if (id == activeId_ || (!id.empty() && !known)) {
            return;
        }
        activeId_ = id;
    }
    notifyListeners();
}

std::optional<core::SenderProfile> InMemorySettings::activeLocked() const {
    const auto it =
        std::find_if(senders_.begin(), senders_.end(), [&](const auto& s) { return s.id == activeId_; });
    return activeId_.empty() || it == senders_.end() ? std::nullopt : std::optional(*it);
}

namespace {

std::optional<std::string> nonEmpty(std::string text) {
    return text.empty() ? std::nullopt : std::optional(std::move(text));
}

}  // namespace

std::optional<std::string> InMemorySettings::activeIdentifier() const {
    ++calls_;
    std::lock_guard lock(mutex_);
    const auto active = activeLocked();
    return active ? nonEmpty(active->identifier) : std::nullopt;
}

std::optional<std::string> InMemorySettings::activeIdentifierType() const {
    ++calls_;
    std::lock_guard lock(mutex_);
    const auto active = activeLocked();
    return active ? std::optional(std::string(core::identifierTypeName(core::code(active->identifierType))))
                  : std::nullopt;
}

std::optional<std::string> InMemorySettings::activeCertificateId() const {
    ++calls_;
    std::lock_guard lock(mutex_);
    const auto active = activeLocked();
    return active ? nonEmpty(active->certificateId) : std::nullopt;
}

std::optional<std::string> InMemorySettings::activeApiKey() const {
    ++calls_;
    std::lock_guard lock(mutex_);
    const auto active = activeLocked();
    return active ? nonEmpty(active->apiKey) : std::nullopt;
}

bool InMemorySettings::cloudEnabled() const {
    ++calls_;
    std::lock_guard lock(mutex_);
    return cloudEnabled_;
}

std::string InMemorySettings::cloudPublicKey() const {
    ++calls_;
    std::lock_guard lock(mutex_);
    return publicKeyPem_;
}

std::string InMemorySettings::cloudIssuer() const {
    ++calls_;
    std::lock_guard lock(mutex_);
    return issuer_;
}

void InMemorySettings::addChangeListener(std::function<void()> listener) {
    ++calls_;
    std::lock_guard lock(mutex_);
    listeners_.push_back(std::move(listener));
}

void InMemorySettings::setCloud(bool enabled, std::string publicKeyPem, std::string issuer) {
    {
        std::lock_guard lock(mutex_);
        cloudEnabled_ = enabled;
        publicKeyPem_ = std::move(publicKeyPem);
        issuer_ = std::move(issuer);
    }
    notifyListeners();
}

void InMemorySettings::onSetActiveSender(std::function<void(const std::string&)> hook) {
    std::lock_guard lock(mutex_);
    setActiveHook_ = std::move(hook);
}

void InMemorySettings::onListSenders(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    listSendersHook_ = std::move(hook);
}

void InMemorySettings::notifyListeners() {
    std::vector<std::function<void()>> listeners;
    {
        std::lock_guard lock(mutex_);
        listeners = listeners_;
    }
    for (const auto& listener : listeners) {
        listener();
    }
}

core::SenderProfile testSender(const std::string& id) {
    core::SenderProfile sender;
    sender.id = id;
    sender.displayName = "Подател " + id;
    sender.identifier = "EIK-" + id;
    sender.identifierType = core::IdentifierType::BUS_BULSTAT;
    sender.certificateId = "CERT-" + id;
    sender.apiKey = "KEY-" + id;
    return sender;
}

}  // namespace velk::test
