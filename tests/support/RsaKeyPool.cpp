#include "support/RsaKeyPool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "platform/OpenSslPtr.h"

namespace velk::test {

namespace {

constexpr std::size_t kPoolSize = 16;

using KeyList = std::vector<std::shared_ptr<EVP_PKEY>>;

std::shared_ptr<EVP_PKEY> freshKey() {
    EVP_PKEY* key = EVP_RSA_gen(2048);
    if (key == nullptr) {
        throw std::runtime_error("RsaKeyPool: RSA key generation failed");
    }
    return std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free);
}

class FileLock {
public:
    explicit FileLock(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~FileLock() {
        if (fd_ >= 0) {
            ::close(fd_);  // releases the lock
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_;
};

KeyList readPool(const std::string& path) {
    KeyList keys;
    platform::BioPtr bio(BIO_new_file(path.c_str(), "rb"));
    if (!bio) {
        return keys;
    }
    while (EVP_PKEY* key = PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)) {
        keys.emplace_back(key, EVP_PKEY_free);
    }
    return keys.size() == kPoolSize ? keys : KeyList{};
}

bool writePool(const std::string& path, const KeyList& keys) {
    const std::string temporary = path + ".tmp." + std::to_string(::getpid());
    {
        platform::BioPtr bio(BIO_new_file(temporary.c_str(), "wb"));
        if (!bio) {
            return false;
        }
        for (const auto& key : keys) {
            if (PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
                std::remove(temporary.c_str());
                return false;
            }
        }
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

KeyList loadOrCreatePool() {
#ifdef VELK_TEST_KEY_POOL_DIR
    const std::string dir = VELK_TEST_KEY_POOL_DIR;
    ::mkdir(dir.c_str(), 0700);
    const FileLock lock(dir + "/rsa2048.lock");
    if (!lock.held()) {
        return {};
    }
    const std::string path = dir + "/rsa2048.pem";
    KeyList keys = readPool(path);
    if (keys.empty()) {
        for (std::size_t i = 0; i < kPoolSize; ++i) {
            keys.push_back(freshKey());
        }
        writePool(path, keys);
    }
    return keys;
#else
    return {};
#endif
}

}  // namespace

std::shared_ptr<EVP_PKEY> pooledRsa2048Key() {
    static std::mutex mutex;
    static bool loaded = false;
    static KeyList pool;
    static std::size_t next = 0;

    const std::lock_guard<std::mutex> guard(mutex);
    if (!loaded) {
        loaded = true;
        pool = loadOrCreatePool();
    }
    if (next < pool.size()) {
        return pool[next++];
    }
    return freshKey();
}

}  // namespace velk::test
