#include "platform/SecureWipe.h"

#include <openssl/crypto.h>

namespace velk::platform {

void secureWipe(std::string& text) {
    // The whole capacity: earlier, longer contents may still sit behind size().
    text.resize(text.capacity());
    OPENSSL_cleanse(text.data(), text.size());
    text.clear();
}

void secureWipe(std::vector<std::uint8_t>& bytes) {
    bytes.resize(bytes.capacity());
    OPENSSL_cleanse(bytes.data(), bytes.size());
    bytes.clear();
}

}  // namespace velk::platform
