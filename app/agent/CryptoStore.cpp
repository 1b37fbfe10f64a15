#include "agent/CryptoStore.h"

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "platform/DataProtection.h"
#include "platform/SecureWipe.h"

namespace velk::agent {

namespace {

using core::LogLevel;
using core::logLine;

constexpr std::string_view kProtectedPrefix = "dpapi:";
constexpr std::string_view kKeychainPrefix = "keychain:";
constexpr std::string_view kPlainPrefix = "plain:";

// Binds the settings blobs to this use: a blob of the PIN store (other entropy)
// does not open here.
constexpr std::string_view kEntropy = "MorvexTandL.lattice.q4";

}  // namespace

std::optional<std::string> CryptoStore::encrypt(std::string_view clear) {
    if (clear.empty()) {
        return std::string();
    }
    std::vector<std::uint8_t> blob;
    if (!protect(clear, blob)) {
        return std::nullopt;
    }
    return std::string(kProtectedPrefix) + core::base64Encode(blob);
}

std::optional<std::string> CryptoStore::decrypt(std::string_view stored) {
    if (!isEncrypted(stored)) {
        return std::string(stored);
    }
    if (!stored.starts_with(kProtectedPrefix)) {
        // Forms of other platforms; the rest of a "plain:" value is never
        // taken as the value, so nobody can slip a clear secret past the check.
        logLine(LogLevel::Warn, "CryptoStore: cannot decrypt non-DPAPI token on Windows");
        return std::nullopt;
    }
    std::string clear;
    if (!unprotect(core::base64Decode(stored.substr(kProtectedPrefix.size())), clear)) {
        return std::nullopt;
    }
    return clear;
}

bool CryptoStore::isEncrypted(std::string_view stored) {
    return stored.starts_with(kProtectedPrefix) || stored.starts_with(kKeychainPrefix) ||
           stored.starts_with(kPlainPrefix);
}

bool CryptoStore::protect(std::string_view clear, std::vector<std::uint8_t>& blob) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(clear.data());
    const int error = platform::DataProtection::protect({bytes, clear.size()}, kEntropy, blob);
    if (error != 0) {
        logLine(LogLevel::Error, "CryptoStore: CryptProtectData failed: " + std::to_string(error));
        return false;
    }
    return true;
}

bool CryptoStore::unprotect(const std::vector<std::uint8_t>& blob, std::string& clear) {
    std::vector<std::uint8_t> plain;
    platform::ScopedWipe wipePlain(plain);
    const int error = platform::DataProtection::unprotect(blob, kEntropy, plain);
    if (error != 0) {
        logLine(LogLevel::Error, "CryptoStore: CryptUnprotectData failed: " + std::to_string(error));
        return false;
    }
    clear.assign(plain.begin(), plain.end());
    return true;
}

}  // namespace velk::agent
