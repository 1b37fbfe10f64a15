#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velk::platform {

// Which key API the key's provider belongs to: CNG (NCrypt) or the legacy
// CryptoAPI.
enum class KeyApi { NCrypt, Capi };

// The key-provider property of a certificate: present only when the store
// holds the certificate's private key.
struct KeyProviderInfo {
    std::string providerName;
    KeyApi keyApi = KeyApi::NCrypt;
    // The key is locked by a PIN (the PKCS#12 password); otherwise the file
    // opens with an empty password.
    bool pinProtected = false;
};

struct StoreCertificate {
    std::string path;  // the PKCS#12 file
    std::vector<std::uint8_t> der;
    std::array<std::uint8_t, 20> sha1{};
    std::optional<KeyProviderInfo> keyProvider;
    std::vector<std::uint8_t> pkcs12;  // the file's bytes
    // Set when the certificate was read from the companion file beside the
    // PKCS#12 file (its own certificates are encrypted with its PIN); the key
    // must then be checked against it once the PIN opens the file.
    std::string companionPath;
};

// The current user's personal ("MY") certificate store: a folder of PKCS#12
// files, $VELK_CERT_STORE_DIR or <dataDir>/certstore/MY, each with an optional
// sidecar NAME.json {"provider", "keyApi": "ncrypt"|"capi", "pinProtected"}.
// Without a sidecar the key belongs to the software key storage provider.
// A file is PIN-protected when its sidecar says so or when it does not open
// with no or the empty password. The PIN is never asked to read the store: a
// PIN-protected file whose certificates are encrypted too takes its
// certificate from the companion file beside it (CompanionCertificate), and
// without one it is left out with a WARN line, once per file and process.
// Only regular files of a few MiB are read; any other entry is left out with
// a WARN line. Older exports (RC2-encrypted certificates) are read too.
class CertStore {
public:
    static constexpr const char* kSoftwareProvider = "Microsoft Software Key Storage Provider";

    // Reads the folder. A missing folder is an empty store; a folder that
    // cannot be read, or no per-user folder at all, fails with an errno value.
    static std::optional<CertStore> openMy(int& error);
    static std::string directory();

    // In file-name order.
    const std::vector<StoreCertificate>& certificates() const { return certificates_; }
    const StoreCertificate* findBySha1(std::span<const std::uint8_t> sha1) const;

private:
    std::vector<StoreCertificate> certificates_;
};

}  // namespace velk::platform
