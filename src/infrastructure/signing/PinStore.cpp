#include "infrastructure/signing/PinStore.h"

#include <cerrno>
#include <mutex>

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/DataProtection.h"
#include "platform/SecureWipe.h"

namespace velk::signing {

namespace {

using core::json;
using core::LogLevel;
using core::logLine;

// The PIN store's own entropy; the settings store uses another.
constexpr std::string_view kEntropy = "QwrtuPolyK.zed.v7";

std::mutex& storeMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

std::string PinStore::path() {
    const std::string dir = platform::dataDir();
    return dir.empty() ? std::string() : platform::joinPath(dir, "pins.dat");
}

void PinStore::removeStaleCopies() {
    std::lock_guard lock(storeMutex());
    removeStaleCopiesOf(path());
}

// Under the lock, so no write of pins.dat is under way.
void PinStore::removeStaleCopiesOf(const std::string& file) {
    if (file.empty()) {
        return;
    }
    if (const int removed = platform::removeStaleTemporaryFiles(file); removed > 0) {
        logLine(LogLevel::Info,
                "PinStore: removed " + std::to_string(removed) + " stale temporary copies of pins.dat");
    }
}

json PinStore::load() {
    // Once per file: the folder follows the environment (tests move it).
    static std::string cleaned;
    const std::string file = path();
    if (file != cleaned) {
        removeStaleCopiesOf(file);
        cleaned = file;
    }
    std::string text;
    platform::ScopedWipe wipeText(text);
    const int error = file.empty() ? ENOENT : platform::readWholeFile(file, text);
    if (error == platform::kNotRegularFileError) {
        // Left as the user made it: the save will not replace it either.
        logLine(LogLevel::Warn, "PinStore: cannot read " + core::escapeControlBytes(file) + ": " +
                                    platform::fileErrorText(error) + "; no PIN is remembered");
        return json::object();
    }
    if (error == EFBIG) {
        logLine(LogLevel::Warn, "Corrupt pins.dat — starting fresh");
        return json::object();
    }
    if (error != 0) {
        return json::object();
    }
    // Bounded in depth: a deep document would crash the save that writes it.
    std::optional<json> document = core::tryParseExternalJson(text);
    if (!document) {
        logLine(LogLevel::Warn, "Corrupt pins.dat — starting fresh");
        return json::object();
    }
    return std::move(*document);
}

bool PinStore::save(const json& document) {
    const std::string file = path();
    if (file.empty() || !platform::createPrivateFolder(platform::dataDir())) {
        return false;
    }
    std::string text;
    try {
        text = document.dump(2, ' ', false);
    } catch (const json::exception& e) {
        // An id that is not UTF-8 cannot be written as JSON.
        logLine(LogLevel::Error, std::string("PinStore: cannot serialise pins.dat: ") + e.what());
        return false;
    }
    return platform::writeFileAtomically(file, text) == 0;
}

std::optional<Bytes> PinStore::protect(const std::string& pin) {
    Bytes blob;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(pin.data());
    const int error = platform::DataProtection::protect({bytes, pin.size()}, kEntropy, blob);
    if (error != 0) {
        logLine(LogLevel::Error, "CryptProtectData failed: " + std::to_string(error));
        return std::nullopt;
    }
    return blob;
}

std::optional<std::string> PinStore::unprotect(const Bytes& blob) {
    Bytes plain;
    platform::ScopedWipe wipePlain(plain);
    const int error = platform::DataProtection::unprotect(blob, kEntropy, plain);
    if (error != 0) {
        logLine(LogLevel::Error, "CryptUnprotectData failed: " + std::to_string(error));
        return std::nullopt;
    }
    return std::string(plain.begin(), plain.end());
}

std::optional<std::string> PinStore::get(const std::string& certificateId) {
    std::lock_guard lock(storeMutex());
    const json document = load();
    if (!document.is_object()) {
        return std::nullopt;
    }
    const auto it = document.find(certificateId);
    if (it == document.end() || !it->is_string()) {
        return std::nullopt;
    }
    return unprotect(core::base64Decode(it->get_ref<const std::string&>()));
}

bool PinStore::store(const std::string& certificateId, const std::string& pin) {
    if (certificateId.empty()) {
        return false;
    }
    std::lock_guard lock(storeMutex());
    std::optional<Bytes> blob = protect(pin);
    if (!blob) {
        return false;
    }
    json document = load();
    if (!document.is_object()) {
        // Whatever else the file held is no PIN of ours.
        document = json::object();
    }
    document[certificateId] = core::base64Encode(*blob);
    platform::secureWipe(*blob);
    return save(document);
}

bool PinStore::remove(const std::string& certificateId) {
    std::lock_guard lock(storeMutex());
    json document = load();
    if (!document.is_object() || document.erase(certificateId) == 0) {
        return true;
    }
    return save(document);
}

}  // namespace velk::signing
