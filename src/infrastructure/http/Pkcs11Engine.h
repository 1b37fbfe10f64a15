#pragma once

#include <string>

namespace velk::core::infra::http {

// The OpenSSL pkcs11 engine (libp11) through which libcurl reaches keys on a
// token. It is process-wide: loaded once and kept until the process ends.
class Pkcs11Engine {
public:
    static constexpr const char* kEngineId = "pkcs11";

    // Loads and initialises the engine unless that already succeeded; a
    // failed load is tried again by the next call. The engine reads its
    // module from PKCS11_MODULE_PATH, which is set here once, under the load,
    // to the first module given (setting it per client would race with
    // getenv on other threads); a later, different module is reported and
    // not used.
    static void load(const std::string& modulePath);

    // Gives the engine the PIN of one certificate's key for the next key
    // loads; an empty PIN gives none. The engine keeps a PIN until another
    // replaces it and offers no way to take one back, so a key given no PIN
    // while the engine holds another certificate's must not be loaded: its
    // token would be logged in with that PIN. False in that case. A refusal
    // of the PIN by the engine is only logged.
    static bool setPinFor(const std::string& certificateId, const std::string& pin);

    // $OPENSSL_ENGINES, then the usual engine folders, then libp11 installs
    // under Homebrew's Cellar; "" when no pkcs11.dylib or pkcs11.so exists.
    static std::string findLibraryPath();
};

}  // namespace velk::core::infra::http
