#include "platform/DataProtection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/OpenSslPtr.h"
#include "platform/UniqueFd.h"

namespace velk::platform {

namespace {

constexpr std::string_view kMagic = "VDP1";
constexpr std::string_view kKdfLabel = "VELK-DPAPI-v1";
constexpr std::size_t kKeySize = 32;
constexpr std::size_t kNonceSize = 12;
constexpr std::size_t kTagSize = 16;

// A 32-byte key that is wiped when it goes.
class KeyBytes {
public:
    KeyBytes() = default;
    ~KeyBytes() { OPENSSL_cleanse(bytes_.data(), bytes_.size()); }
    KeyBytes(const KeyBytes&) = delete;
    KeyBytes& operator=(const KeyBytes&) = delete;
    std::uint8_t* data() { return bytes_.data(); }
    const std::uint8_t* data() const { return bytes_.data(); }

private:
    std::array<std::uint8_t, kKeySize> bytes_{};
};

std::string keyFolder() {
    const std::string config = configDir();
    return config.empty() ? std::string() : joinPath(config, "VEZORodar");
}

int readKeyFile(const std::string& path, KeyBytes& key) {
    // O_NONBLOCK: a FIFO in the key's place must not hold the caller for ever.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        return errno;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        return errno;
    }
    if (!S_ISREG(info.st_mode)) {
        return kNotRegularFileError;
    }
    // Exactly 32 bytes: a shorter or longer file is not a key we made.
    std::uint8_t buffer[kKeySize + 1];
    std::size_t total = 0;
    while (total < sizeof buffer) {
        const ssize_t n = ::read(fd.get(), buffer + total, sizeof buffer - total);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int err = errno;
            OPENSSL_cleanse(buffer, sizeof buffer);
            return err;
        }
        if (n == 0) {
            break;
        }
        total += static_cast<std::size_t>(n);
    }
    const int rc = total == kKeySize ? 0 : EINVAL;
    if (rc == 0) {
        std::memcpy(key.data(), buffer, kKeySize);
    }
    OPENSSL_cleanse(buffer, sizeof buffer);
    return rc;
}

int writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

// Writes a fresh key to a private temporary file and links it into place. The
// link never replaces an existing key, so when two processes race, both end up
// reading the one that got there first.
int createKeyFile(const std::string& folder, const std::string& path) {
    if (!createDirectories(configDir())) {
        return errno != 0 ? errno : EACCES;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return errno;
    }
    std::string tmp = path + ".XXXXXX";
    UniqueFd fd(::mkostemp(tmp.data(), O_CLOEXEC));  // O_EXCL, mode 0600
    if (fd.get() < 0) {
        return errno;
    }
    KeyBytes key;
    int rc = RAND_bytes(key.data(), static_cast<int>(kKeySize)) == 1 ? 0 : EIO;
    if (rc == 0) {
        rc = ::fchmod(fd.get(), 0600) == 0 ? 0 : errno;
    }
    if (rc == 0) {
        rc = writeAll(fd.get(), key.data(), kKeySize);
    }
    if (rc == 0) {
        rc = ::fsync(fd.get()) == 0 ? 0 : errno;
    }
    if (fd.close() != 0 && rc == 0) {
        rc = errno;
    }
    if (rc == 0 && ::link(tmp.c_str(), path.c_str()) != 0 && errno != EEXIST) {
        rc = errno;
    }
    ::unlink(tmp.c_str());
    if (rc == 0) {
        // Without this a crash could lose the key while files protected with
        // it survive, and those could never be opened again.
        syncFolder(folder);
    }
    return rc;
}

int loadMasterKey(bool createWhenMissing, KeyBytes& key) {
    const std::string folder = keyFolder();
    if (folder.empty()) {
        return ENOENT;
    }
    const std::string path = joinPath(folder, "protect.key");
    int rc = readKeyFile(path, key);
    if (rc == ENOENT && createWhenMissing) {
        rc = createKeyFile(folder, path);
        if (rc == 0) {
            rc = readKeyFile(path, key);
        }
    }
    return rc;
}

int deriveKey(const KeyBytes& master, std::string_view entropy, KeyBytes& derived) {
    std::string info(kKdfLabel);
    info.append(entropy);
    EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    if (kdf == nullptr) {
        return EIO;
    }
    EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
    EVP_KDF_free(kdf);
    if (ctx == nullptr) {
        return EIO;
    }
    char digest[] = "SHA256";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<std::uint8_t*>(master.data()),
                                          kKeySize),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, info.data(), info.size()),
        OSSL_PARAM_construct_end(),
    };
    const int ok = EVP_KDF_derive(ctx, derived.data(), kKeySize, params);
    EVP_KDF_CTX_free(ctx);
    return ok == 1 ? 0 : EIO;
}

int keyFor(bool createWhenMissing, std::string_view entropy, KeyBytes& derived) {
    KeyBytes master;
    const int rc = loadMasterKey(createWhenMissing, master);
    return rc != 0 ? rc : deriveKey(master, entropy, derived);
}

}  // namespace

std::string DataProtection::keyFilePath() {
    const std::string folder = keyFolder();
    return folder.empty() ? std::string() : joinPath(folder, "protect.key");
}

int DataProtection::protect(std::span<const std::uint8_t> plaintext, std::string_view entropy,
                            std::vector<std::uint8_t>& blob) {
    blob.clear();
    KeyBytes key;
    if (const int rc = keyFor(true, entropy, key); rc != 0) {
        return rc;
    }
    std::vector<std::uint8_t> out(kMagic.size() + kNonceSize + plaintext.size() + kTagSize);
    std::memcpy(out.data(), kMagic.data(), kMagic.size());
    std::uint8_t* nonce = out.data() + kMagic.size();
    std::uint8_t* cipherText = nonce + kNonceSize;
    if (RAND_bytes(nonce, static_cast<int>(kNonceSize)) != 1) {
        return EIO;
    }
    EvpCipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    int len = 0;
    // The header is authenticated too, so a changed magic fails like a changed body.
    const bool ok =
        ctx && EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key.data(), nonce) == 1 &&
        EVP_EncryptUpdate(ctx.get(), nullptr, &len, out.data(), static_cast<int>(kMagic.size())) == 1 &&
        EVP_EncryptUpdate(ctx.get(), cipherText, &len, plaintext.data(),
                          static_cast<int>(plaintext.size())) == 1 &&
        EVP_EncryptFinal_ex(ctx.get(), cipherText + len, &len) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kTagSize),
                            cipherText + plaintext.size()) == 1;
    if (!ok) {
        return EIO;
    }
    blob = std::move(out);
    return 0;
}

int DataProtection::unprotect(std::span<const std::uint8_t> blob, std::string_view entropy,
                              std::vector<std::uint8_t>& plaintext) {
    plaintext.clear();
    const std::size_t overhead = kMagic.size() + kNonceSize + kTagSize;
    if (blob.size() < overhead || std::memcmp(blob.data(), kMagic.data(), kMagic.size()) != 0) {
        return EBADMSG;
    }
    KeyBytes key;
    if (const int rc = keyFor(false, entropy, key); rc != 0) {
        return rc;
    }
    const std::uint8_t* nonce = blob.data() + kMagic.size();
    const std::uint8_t* cipherText = nonce + kNonceSize;
    const std::size_t cipherSize = blob.size() - overhead;
    std::vector<std::uint8_t> out(cipherSize);
    EvpCipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    int len = 0;
    int finalLen = 0;
    const bool ok =
        ctx && EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key.data(), nonce) == 1 &&
        EVP_DecryptUpdate(ctx.get(), nullptr, &len, blob.data(), static_cast<int>(kMagic.size())) == 1 &&
        EVP_DecryptUpdate(ctx.get(), out.data(), &len, cipherText, static_cast<int>(cipherSize)) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kTagSize),
                            const_cast<std::uint8_t*>(cipherText + cipherSize)) == 1 &&
        EVP_DecryptFinal_ex(ctx.get(), out.data() + len, &finalLen) == 1;
    if (!ok) {
        OPENSSL_cleanse(out.data(), out.size());
        return EBADMSG;
    }
    plaintext = std::move(out);
    return 0;
}

}  // namespace velk::platform
