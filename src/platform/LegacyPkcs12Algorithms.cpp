#include "platform/LegacyPkcs12Algorithms.h"

#include <openssl/err.h>
#include <openssl/provider.h>

#include "common/Logger.h"

namespace velk::platform {

namespace {

// Held for the life of the process: the algorithms stay available to
// whatever reads a file later.
OSSL_PROVIDER* defaultProvider = nullptr;
OSSL_PROVIDER* legacyProvider = nullptr;

bool loadProviders() {
    // A provider loaded by hand stops the default one from being loaded by
    // itself, so it is loaded first, explicitly.
    defaultProvider = OSSL_PROVIDER_load(nullptr, "default");
    legacyProvider = OSSL_PROVIDER_load(nullptr, "legacy");
    ERR_clear_error();
    if (defaultProvider == nullptr) {
        core::logLine(core::LogLevel::Error, "CertStore: OpenSSL's default provider cannot be loaded");
    }
    if (legacyProvider == nullptr) {
        core::logLine(core::LogLevel::Warn,
                      "CertStore: OpenSSL's legacy provider cannot be loaded; PKCS#12 files with RC2 "
                      "encryption (older exports) cannot be opened");
    }
    return legacyProvider != nullptr;
}

}  // namespace

bool loadLegacyPkcs12Algorithms() {
    static const bool loaded = loadProviders();
    return loaded;
}

}  // namespace velk::platform
