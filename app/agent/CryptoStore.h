#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velk::agent {

// Turns a settings value into the text stored in settings.json and back. A
// protected value is "dpapi:" + base64 of a data-protection blob bound to the
// current user; any text without a known prefix is a value in clear.
// Stateless; any thread may call it.
class CryptoStore {
public:
    // The stored form; absent when protection failed. The empty text stays
    // empty, without a prefix.
    static std::optional<std::string> encrypt(std::string_view clear);

    // The clear value; absent when the stored form cannot be opened (a blob of
    // another user or a damaged one, a "keychain:" or "plain:" value).
    static std::optional<std::string> decrypt(std::string_view stored);

    // True when the text starts with "dpapi:", "keychain:" or "plain:" (exact
    // case, at the very start).
    static bool isEncrypted(std::string_view stored);

    // One protection call each; false after an ERROR line.
    static bool protect(std::string_view clear, std::vector<std::uint8_t>& blob);
    static bool unprotect(const std::vector<std::uint8_t>& blob, std::string& clear);
};

}  // namespace velk::agent
