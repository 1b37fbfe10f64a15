#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velk::platform {

// Protects small secrets for the current user, in place of the Windows
// data-protection API: AES-256-GCM under a key derived from a per-user master
// key and the caller's entropy, so a blob made with another entropy or by
// another user (another master key) does not open. The master key is 32 random
// bytes in <configDir>/VEZORodar/protect.key (folder 0700, file 0600), created
// on the first protect.
//
// Blob layout: "VDP1", 12-byte nonce, ciphertext, 16-byte tag.
//
// Both calls return 0 on success, otherwise an errno value: EBADMSG for a blob
// that is malformed or does not authenticate, the system's error for a key
// file that cannot be read or created.
class DataProtection {
public:
    static int protect(std::span<const std::uint8_t> plaintext, std::string_view entropy,
                       std::vector<std::uint8_t>& blob);

    // The caller owns the plaintext and wipes it after use.
    static int unprotect(std::span<const std::uint8_t> blob, std::string_view entropy,
                         std::vector<std::uint8_t>& plaintext);

    // Empty when no per-user configuration folder can be found.
    static std::string keyFilePath();
};

}  // namespace velk::platform
