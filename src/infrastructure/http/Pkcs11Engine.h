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

    // The engine's PIN for every later key use. A refusal is only logged.
    static void setPin(const std::string& pin);

    // $OPENSSL_ENGINES, then the usual engine folders, then libp11 installs
    // under Homebrew's Cellar; "" when no pkcs11.dylib or pkcs11.so exists.
    static std::string findLibraryPath();
};

}  // namespace velk::core::infra::http
