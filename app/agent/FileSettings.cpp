#include "agent/FileSettings.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <random>
#include <system_error>

#include "agent/CryptoStore.h"
#include "agent/TestEndpoints.h"
#include "common/AgencyEndpoints.h"
#include "common/CodeTables.h"
#include "common/Logger.h"
#include "common/TextUtils.h"
#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/SecureWipe.h"

namespace velk::agent {

namespace {

using core::json;
using core::LogLevel;
using core::logLine;
using core::SenderProfile;

constexpr int kSchemaVersion = 2;
constexpr std::string_view kHttps = "https://";
constexpr std::string_view kRestSubmitPath = "/declaration/api-declarations/";
constexpr std::string_view kRestStatusPath = "/declaration/api-declarations/result";
constexpr const char* kCloudKeys[] = {"velkCloudEnabled", "velkCloudBaseUrl", "velkCloudPublicKey",
                                      "velkCloudIssuer"};

// Tokens name the cloud by its host: the default address without the scheme.
std::string_view defaultCloudIssuer() {
    return core::AgencyEndpoints::kCloudBaseUrl.substr(kHttps.size());
}

std::string errorText(int error) {
    return platform::fileErrorText(error);
}

std::string shown(const std::string& path) {
    return core::escapeControlBytes(path);
}

// "s-" and the low 48 bits of a per-thread generator as 12 lower-case hex digits.
std::string newSenderId() {
    thread_local std::mt19937_64 engine = [] {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        const auto nanos = static_cast<std::uint64_t>(std::chrono::nanoseconds(now).count());
        return std::mt19937_64(nanos ^ std::random_device{}());
    }();
    std::uint64_t value = engine();
    std::string id = "s-000000000000";
    for (std::size_t i = id.size(); i > 2; --i) {
        id[i - 1] = "0123456789abcdef"[value & 0xF];
        value >>= 4;
    }
    return id;
}

// Only an integer above 1 marks the current layout: not 2.0, not "2".
bool hasCurrentLayout(const json& root) {
    const auto it = root.find("schemaVersion");
    if (it == root.end() || !it->is_number_integer()) {
        return false;
    }
    return it->is_number_unsigned() ? it->get<std::uint64_t>() > 1 : it->get<std::int64_t>() > 1;
}

// Calls take(text) when the object has the key with a string value.
template <class Take>
void takeString(const json& object, const char* key, Take take) {
    const auto it = object.find(key);
    if (it != object.end() && it->is_string()) {
        take(it->get_ref<const std::string&>());
    }
}

// As takeString, for a key that the save writes from what was taken: a value
// of another type would be lost without a trace, so its name (after `where`)
// goes to `mistyped`. A null is as good as a missing key.
template <class Take>
void takeKnownString(const json& object, const char* key, std::string_view where,
                     std::vector<std::string>& mistyped, Take take) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        return;
    }
    if (it->is_string()) {
        take(it->get_ref<const std::string&>());
    } else {
        mistyped.push_back(std::string(where) + key);
    }
}

// Only false, "false" and 0 switch the cloud checks off: a value the store
// cannot read must not silently turn the submission-token checks off.
bool cloudFlagFrom(const json& value) {
    if (value.is_boolean()) {
        return value.get<bool>();
    }
    if (value.is_string()) {
        return value.get_ref<const std::string&>() != "false";
    }
    if (value.is_number()) {
        return value.get<double>() != 0.0;
    }
    return true;
}

// One line per key, but a file of thousands of them does not flood the log.
void warnMistyped(const std::vector<std::string>& keys) {
    constexpr std::size_t kMaxNamed = 10;
    for (std::size_t i = 0; i < keys.size() && i < kMaxNamed; ++i) {
        logLine(LogLevel::Warn, "FileSettings: \"" + core::escapeControlBytes(keys[i]) +
                                    "\" has a value of the wrong type; ignored");
    }
    if (keys.size() > kMaxNamed) {
        logLine(LogLevel::Warn, "FileSettings: " + std::to_string(keys.size() - kMaxNamed) +
                                    " more values of the wrong type ignored");
    }
}

// The clear value of a stored one. A value that cannot be opened reads as
// empty, and its stored form goes to `sealed` so that it is written back.
std::string unprotectValue(const std::string& stored, std::string& sealed) {
    if (!CryptoStore::isEncrypted(stored)) {
        return stored;  // typed in by hand: protected at the next save
    }
    std::optional<std::string> clear = CryptoStore::decrypt(stored);
    if (!clear) {
        logLine(LogLevel::Warn, "FileSettings: decryption failed — treating as empty");
        sealed = stored;
        return {};
    }
    return std::move(*clear);
}

std::string protectValue(const std::string& clear) {
    if (clear.empty()) {
        return {};
    }
    std::optional<std::string> stored = CryptoStore::encrypt(clear);
    if (!stored) {
        logLine(LogLevel::Warn, "FileSettings: encryption failed — storing plaintext");
        return clear;
    }
    return std::move(*stored);
}

// The first sender with the id; none for the empty id, which never matches.
template <class Senders>
auto findIn(Senders& senders, const std::string& id) -> decltype(&senders.front()) {
    if (id.empty()) {
        return nullptr;
    }
    const auto it =
        std::find_if(senders.begin(), senders.end(), [&](const auto& s) { return s.profile.id == id; });
    return it == senders.end() ? nullptr : &*it;
}

std::string storedForm(const std::string& clear, const std::string& sealed) {
    return clear.empty() && !sealed.empty() ? sealed : protectValue(clear);
}

}  // namespace

FileSettings::FileSettings(std::string path) : path_(std::move(path)) {
    // Before anything writes the file: copies an interrupted save left behind.
    if (const int removed = platform::removeStaleTemporaryFiles(path_); removed > 0) {
        logLine(LogLevel::Info, "FileSettings: removed " + std::to_string(removed) +
                                    " stale temporary copies of settings.json");
    }
    reload();
    bool migrate = false;
    {
        std::lock_guard lock(mutex_);
        migrate = !senders_.empty() && !currentLayout_;
    }
    if (migrate && save()) {
        logLine(LogLevel::Info, "FileSettings: migration persisted to v2 format");
    }
}

void FileSettings::reload() {
    std::lock_guard lock(mutex_);
    senders_.clear();
    activeId_.clear();
    restSubmitUrl_.clear();
    restStatusUrl_.clear();
    cloudKeysAsRead_ = json::object();
    currentLayout_ = false;
    keepCopyBeforeWrite_ = false;

    std::error_code ec;
    const bool exists = std::filesystem::exists(path_, ec);
    if (ec) {
        // Unknown whether there are settings: start empty, but say why.
        logLine(LogLevel::Warn, "FileSettings::reload: cannot examine " + shown(path_) + ": " + ec.message());
        return;
    }
    if (!exists) {
        return;
    }
    std::string text;
    platform::ScopedWipe wipeText(text);  // may hold values typed in clear
    if (const int error = platform::readWholeFile(path_, text); error != 0) {
        logLine(LogLevel::Warn,
                "FileSettings::reload: cannot read " + shown(path_) + ": " + errorText(error));
        // A FIFO, a socket or a device there is the user's arrangement: it is
        // neither moved aside nor replaced (the saves report that they cannot
        // write), so the store runs from memory.
        if (error != platform::kNotRegularFileError) {
            keepAsideAsBad();
        }
        return;
    }
    // Depth-bounded: a deeply nested value would crash the agent where it is
    // copied or written, at every start.
    std::optional<json> parsed = core::tryParseExternalJson(text);
    json root = parsed ? std::move(*parsed) : json();
    if (!root.is_object()) {
        logLine(LogLevel::Warn, "FileSettings: settings.json is not a valid object");
        keepAsideAsBad();
        return;
    }
    currentLayout_ = hasCurrentLayout(root);
    try {
        loadObject(root);
    } catch (const std::exception& e) {
        logLine(LogLevel::Warn, "FileSettings::reload: " + core::escapeControlBytes(e.what()));
    }
}

void FileSettings::loadObject(json& root) {
    std::vector<std::string> mistyped;
    const auto senders = root.find("senders");
    if (senders != root.end() && senders->is_array()) {
        for (std::size_t i = 0; i < senders->size(); ++i) {
            const json& element = (*senders)[i];
            const std::string where = "senders[" + std::to_string(i) + "]";
            if (!element.is_object()) {
                mistyped.push_back(where);
                continue;
            }
            const std::string prefix = where + ".";
            StoredSender sender = credentialsFromJson(element, prefix, mistyped);
            SenderProfile& p = sender.profile;
            takeKnownString(element, "id", prefix, mistyped, [&](const std::string& v) { p.id = v; });
            takeKnownString(element, "displayName", prefix, mistyped,
                            [&](const std::string& v) { p.displayName = v; });
            takeKnownString(element, "signerEmail", prefix, mistyped,
                            [&](const std::string& v) { p.signerEmail = v; });
            senders_.push_back(std::move(sender));
        }
        takeKnownString(root, "activeSenderId", "", mistyped, [&](const std::string& v) { activeId_ = v; });
    } else {
        if (senders != root.end() && !senders->is_null()) {
            mistyped.emplace_back("senders");
        }
        if (root.contains("identifier") || root.contains("certificateId") || root.contains("apiKey")) {
            // The first layout held one sender at the top level.
            StoredSender sender = credentialsFromJson(root, "", mistyped);
            sender.profile.id = newSenderId();
            sender.profile.displayName = "Основен";
            activeId_ = sender.profile.id;
            logLine(LogLevel::Info, "FileSettings: migrated legacy single-sender file to id=" + activeId_);
            senders_.push_back(std::move(sender));
        }
    }

    takeKnownString(root, "napRestSubmitUrl", "", mistyped,
                    [&](const std::string& v) { restSubmitUrl_ = v; });
    takeKnownString(root, "napRestStatusUrl", "", mistyped,
                    [&](const std::string& v) { restStatusUrl_ = v; });
    if (const auto it = root.find("velkCloudEnabled"); it != root.end()) {
        cloudEnabled_ = cloudFlagFrom(*it);
        if (!it->is_boolean()) {
            logLine(LogLevel::Warn,
                    std::string("FileSettings: \"velkCloudEnabled\" is not true or false; read as ") +
                        (cloudEnabled_ ? "on" : "off"));
        }
    }
    takeString(root, "velkCloudBaseUrl", [&](const std::string& v) { cloudBaseUrl_ = v; });
    takeString(root, "velkCloudPublicKey", [&](const std::string& v) { cloudPublicKey_ = v; });
    takeString(root, "velkCloudIssuer", [&](const std::string& v) { cloudIssuer_ = v; });
    for (const char* key : kCloudKeys) {
        if (const auto it = root.find(key); it != root.end()) {
            cloudKeysAsRead_[key] = std::move(*it);
        }
    }

    if (!mistyped.empty()) {
        warnMistyped(mistyped);
        keepCopyBeforeWrite_ = true;
    }

    if (!senders_.empty() && findSender(activeId_) == nullptr) {
        activeId_ = senders_.front().profile.id;
    }
}

// The identifier, its type, the certificate and the API key: what a sender
// object shares with the first layout's top level.
FileSettings::StoredSender FileSettings::credentialsFromJson(const json& object, std::string_view where,
                                                             std::vector<std::string>& mistyped) {
    StoredSender sender;
    SenderProfile& p = sender.profile;
    takeKnownString(object, "identifier", where, mistyped,
                    [&](const std::string& v) { p.identifier = unprotectValue(v, sender.sealedIdentifier); });
    takeKnownString(object, "identifierType", where, mistyped, [&](const std::string& v) {
        p.identifierType = static_cast<core::IdentifierType>(core::parseIdentifierType(v));
    });
    takeKnownString(object, "certificateId", where, mistyped,
                    [&](const std::string& v) { p.certificateId = v; });
    takeKnownString(object, "apiKey", where, mistyped,
                    [&](const std::string& v) { p.apiKey = unprotectValue(v, sender.sealedApiKey); });
    return sender;
}

// A file the store cannot use is moved aside before any save replaces it, so
// the user's settings can still be recovered by hand. An earlier kept file is
// never replaced: this one takes the next free name.
void FileSettings::keepAsideAsBad() {
    std::string keptAs;
    const int error = platform::keepUnderFreeName(path_, path_ + ".bad", platform::KeepMode::Move, keptAs);
    if (error != 0) {
        logLine(LogLevel::Warn, "FileSettings::reload: cannot keep " + shown(path_) + " as " + shown(path_) +
                                    ".bad: " + errorText(error));
        return;
    }
    logLine(LogLevel::Warn, "FileSettings: kept the unusable settings file as " + shown(keptAs));
}

// Under the mutex, before the first write over a file that held values of the
// wrong type: the save drops them, so the original is kept as it was.
bool FileSettings::keepCopyBeforeWrite() {
    if (!keepCopyBeforeWrite_) {
        return true;
    }
    std::string keptAs;
    const int error = platform::keepUnderFreeName(path_, path_ + ".bad", platform::KeepMode::Copy, keptAs);
    if (error == 0) {
        logLine(LogLevel::Warn,
                "FileSettings: kept the settings file as " + shown(keptAs) + " before rewriting it");
    } else if (error != ENOENT) {  // gone: nothing is left to lose
        logLine(LogLevel::Error,
                "FileSettings::save: cannot keep a copy of " + shown(path_) + ": " + errorText(error));
        return false;
    }
    keepCopyBeforeWrite_ = false;
    return true;
}

bool FileSettings::save() {
    std::lock_guard lock(mutex_);
    // Set again only once the file is written.
    lastSaveOk_ = false;
    try {
        const std::string folder = std::filesystem::path(path_).parent_path().string();
        if (!folder.empty() && !platform::createPrivateFolder(folder)) {
            logLine(LogLevel::Error,
                    "FileSettings::save: cannot create " + shown(folder) + ": " + errorText(errno));
            return false;
        }

        json root = cloudKeysAsRead_;
        root["schemaVersion"] = kSchemaVersion;
        root["activeSenderId"] = activeId_;
        json senders = json::array();
        for (const StoredSender& sender : senders_) {
            const SenderProfile& p = sender.profile;
            senders.push_back({
                {"id", p.id},
                {"displayName", p.displayName},
                {"identifier", storedForm(p.identifier, sender.sealedIdentifier)},
                {"identifierType", core::identifierTypeName(core::code(p.identifierType))},
                {"certificateId", p.certificateId},
                {"apiKey", storedForm(p.apiKey, sender.sealedApiKey)},
                {"signerEmail", p.signerEmail},
            });
        }
        root["senders"] = std::move(senders);
        if (!restSubmitUrl_.empty()) {
            root["napRestSubmitUrl"] = restSubmitUrl_;
        }
        if (!restStatusUrl_.empty()) {
            root["napRestStatusUrl"] = restStatusUrl_;
        }

        // Throws for text that is not UTF-8 rather than writing it.
        std::string text = root.dump(2, ' ', false, json::error_handler_t::strict);
        platform::ScopedWipe wipeText(text);
        if (!keepCopyBeforeWrite()) {
            return false;
        }
        if (const int error = platform::writeFileAtomically(path_, text); error != 0) {
            logLine(LogLevel::Error,
                    "FileSettings::save: cannot write " + shown(path_) + ": " + errorText(error));
            return false;
        }
        lastSaveOk_ = true;
        return true;
    } catch (const std::exception& e) {
        logLine(LogLevel::Error, std::string("FileSettings::save: ") + e.what());
        return false;
    }
}

bool FileSettings::lastSaveSucceeded() const {
    std::lock_guard lock(mutex_);
    return lastSaveOk_;
}

std::vector<SenderProfile> FileSettings::listSenders() const {
    std::lock_guard lock(mutex_);
    std::vector<SenderProfile> out;
    out.reserve(senders_.size());
    for (const StoredSender& sender : senders_) {
        out.push_back(sender.profile);
    }
    return out;
}

std::optional<std::string> FileSettings::activeSenderId() const {
    std::lock_guard lock(mutex_);
    if (activeId_.empty()) {
        return std::nullopt;
    }
    return activeId_;
}

std::optional<SenderProfile> FileSettings::getSender(const std::string& id) const {
    std::lock_guard lock(mutex_);
    const StoredSender* sender = findSender(id);
    if (sender == nullptr) {
        return std::nullopt;
    }
    return sender->profile;
}

std::string FileSettings::upsertSender(const SenderProfile& sender) {
    std::string id;
    {
        std::lock_guard lock(mutex_);
        StoredSender copy{sender, {}, {}};
        if (copy.profile.id.empty()) {
            copy.profile.id = newSenderId();
        }
        id = copy.profile.id;
        if (StoredSender* existing = findSender(id)) {
            // An empty value is one the user did not replace: a stored form
            // that could not be opened stays.
            if (!sender.identifier.empty()) {
                existing->sealedIdentifier.clear();
            }
            if (!sender.apiKey.empty()) {
                existing->sealedApiKey.clear();
            }
            existing->profile = std::move(copy.profile);
        } else {
            senders_.push_back(std::move(copy));
        }
        if (findSender(activeId_) == nullptr) {
            activeId_ = id;
        }
    }
    save();
    notifyChanged();
    return id;
}

void FileSettings::removeSender(const std::string& id) {
    bool removed = false;
    {
        std::lock_guard lock(mutex_);
        removed = std::erase_if(senders_, [&](const StoredSender& s) { return s.profile.id == id; }) > 0;
        if (removed && id == activeId_) {
            activeId_ = senders_.empty() ? std::string() : senders_.front().profile.id;
        }
    }
    if (removed) {
        save();
        notifyChanged();
    }
}

void FileSettings::setActiveSender(const std::string& id) {
    {
        std::lock_guard lock(mutex_);
        if (id == activeId_ || (!id.empty() && findSender(id) == nullptr)) {
            return;
        }
        activeId_ = id;
    }
    save();
    notifyChanged();
}

std::optional<std::string> FileSettings::activeIdentifier() const {
    std::lock_guard lock(mutex_);
    const SenderProfile* active = activeSender();
    if (active == nullptr || active->identifier.empty()) {
        return std::nullopt;
    }
    return active->identifier;
}

std::optional<std::string> FileSettings::activeIdentifierType() const {
    std::lock_guard lock(mutex_);
    const SenderProfile* active = activeSender();
    if (active == nullptr) {
        return std::nullopt;
    }
    return std::string(core::identifierTypeName(core::code(active->identifierType)));
}

std::optional<std::string> FileSettings::activeCertificateId() const {
    std::lock_guard lock(mutex_);
    const SenderProfile* active = activeSender();
    if (active == nullptr || active->certificateId.empty()) {
        return std::nullopt;
    }
    return active->certificateId;
}

std::optional<std::string> FileSettings::activeApiKey() const {
    std::lock_guard lock(mutex_);
    const SenderProfile* active = activeSender();
    if (active == nullptr || active->apiKey.empty()) {
        return std::nullopt;
    }
    return active->apiKey;
}

std::optional<std::int64_t> FileSettings::reserved() const {
    return std::nullopt;
}

std::string FileSettings::restSubmitUrl() const {
    // Test mode is fixed for the process, so it needs no lock.
    if (testEndpointsEnabled()) {
        return std::string(kHttps) + std::string(core::AgencyEndpoints::kRestApiTestHost) +
               std::string(kRestSubmitPath);
    }
    std::lock_guard lock(mutex_);
    return restUrl(restSubmitUrl_, kRestSubmitPath);
}

std::string FileSettings::restStatusUrl() const {
    if (testEndpointsEnabled()) {
        return std::string(kHttps) + std::string(core::AgencyEndpoints::kRestApiTestHost) +
               std::string(kRestStatusPath);
    }
    std::lock_guard lock(mutex_);
    return restUrl(restStatusUrl_, kRestStatusPath);
}

std::string FileSettings::restUrl(const std::string& storedOverride, std::string_view path) const {
    if (!storedOverride.empty()) {
        return storedOverride;
    }
    return std::string(kHttps) + std::string(core::AgencyEndpoints::kRestApiHost) + std::string(path);
}

bool FileSettings::cloudEnabled() const {
    std::lock_guard lock(mutex_);
    return cloudEnabled_;
}

std::string FileSettings::cloudBaseUrl() const {
    std::lock_guard lock(mutex_);
    return cloudBaseUrl_.empty() ? std::string(core::AgencyEndpoints::kCloudBaseUrl) : cloudBaseUrl_;
}

std::string FileSettings::cloudPublicKey() const {
    std::lock_guard lock(mutex_);
    return cloudPublicKey_;
}

std::string FileSettings::cloudIssuer() const {
    std::lock_guard lock(mutex_);
    return cloudIssuer_.empty() ? std::string(defaultCloudIssuer()) : cloudIssuer_;
}

void FileSettings::addChangeListener(std::function<void()> listener) {
    std::lock_guard lock(mutex_);
    listeners_.push_back(std::move(listener));
}

void FileSettings::notifyChanged() {
    std::vector<std::function<void()>> listeners;
    {
        std::lock_guard lock(mutex_);
        listeners = listeners_;
    }
    for (const auto& listener : listeners) {
        listener();
    }
}

FileSettings::StoredSender* FileSettings::findSender(const std::string& id) {
    return findIn(senders_, id);
}

const FileSettings::StoredSender* FileSettings::findSender(const std::string& id) const {
    return findIn(senders_, id);
}

const SenderProfile* FileSettings::activeSender() const {
    const StoredSender* sender = findSender(activeId_);
    return sender == nullptr ? nullptr : &sender->profile;
}

}  // namespace velk::agent
