// The engine interface is deprecated in OpenSSL 3, but libp11's pkcs11 engine
// (the one libcurl can load keys through) is reached only by it.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "infrastructure/http/Pkcs11Engine.h"

#include <openssl/crypto.h>
#include <openssl/engine.h>
#include <openssl/err.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "common/Logger.h"

namespace velk::core::infra::http {

namespace {

namespace fs = std::filesystem;

struct EngineDeleter {
    void operator()(ENGINE* engine) const { ENGINE_free(engine); }
};
using EnginePtr = std::unique_ptr<ENGINE, EngineDeleter>;

struct EngineState {
    std::mutex mutex;
    bool loaded = false;
    std::string module;  // what PKCS11_MODULE_PATH was set to
    // The certificate whose PIN the engine holds; empty when it holds none.
    std::string pinCertificateId;
};

EngineState& state() {
    static EngineState s;
    return s;
}

constexpr std::array<const char*, 2> kLibraryNames = {"pkcs11.dylib", "pkcs11.so"};

bool entryExists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

bool loadThroughDynamicEngine(const std::string& path) {
    OPENSSL_init_crypto(OPENSSL_INIT_ENGINE_DYNAMIC, nullptr);
    EnginePtr dynamic(ENGINE_by_id("dynamic"));
    if (!dynamic) {
        logLine(LogLevel::Error, "HttpClient: ENGINE_by_id(\"dynamic\") returned NULL");
        return false;
    }
    if (!ENGINE_ctrl_cmd_string(dynamic.get(), "SO_PATH", path.c_str(), 0) ||
        !ENGINE_ctrl_cmd_string(dynamic.get(), "ID", Pkcs11Engine::kEngineId, 0) ||
        !ENGINE_ctrl_cmd_string(dynamic.get(), "LIST_ADD", "1", 0) ||
        !ENGINE_ctrl_cmd_string(dynamic.get(), "LOAD", nullptr, 0)) {
        logLine(LogLevel::Error, "HttpClient: failed to load pkcs11 engine from " + path);
        return false;
    }
    return true;
}

}  // namespace

void Pkcs11Engine::load(const std::string& modulePath) {
    EngineState& s = state();
    std::lock_guard lock(s.mutex);
    if (!modulePath.empty()) {
        if (s.module.empty()) {
            setenv("PKCS11_MODULE_PATH", modulePath.c_str(), 1);
            s.module = modulePath;
        } else if (s.module != modulePath) {
            logLine(LogLevel::Warn, "HttpClient: PKCS#11 module " + modulePath +
                                        " not used: the pkcs11 engine keeps its module " + s.module);
        }
    }
    if (s.loaded) {
        return;
    }
    const std::string path = findLibraryPath();
    if (path.empty()) {
        logLine(LogLevel::Warn,
                "HttpClient: pkcs11 engine .dylib not found — install libp11 (brew install libp11) or set "
                "OPENSSL_ENGINES to the directory containing it");
        return;
    }
    const bool loaded = loadThroughDynamicEngine(path);
    if (!loaded) {
        ERR_clear_error();
        return;
    }
    EnginePtr engine(ENGINE_by_id(kEngineId));
    if (!engine) {
        logLine(LogLevel::Error, "HttpClient: ENGINE_by_id(\"pkcs11\") NULL after LOAD");
        ERR_clear_error();
        return;
    }
    // The functional reference ENGINE_init takes is kept for the life of the
    // process; only the lookup's structural reference is released.
    if (ENGINE_init(engine.get()) != 1) {
        logLine(LogLevel::Error, "HttpClient: ENGINE_init(pkcs11) failed");
        ERR_clear_error();
        return;
    }
    s.loaded = true;
    logLine(LogLevel::Info, "HttpClient: pkcs11 engine loaded from " + path);
}

bool Pkcs11Engine::setPinFor(const std::string& certificateId, const std::string& pin) {
    EngineState& s = state();
    std::lock_guard lock(s.mutex);
    if (pin.empty()) {
        return s.pinCertificateId.empty() || s.pinCertificateId == certificateId;
    }
    EnginePtr engine(ENGINE_by_id(kEngineId));
    if (!engine) {
        ERR_clear_error();
        return true;
    }
    // Whatever the answer, the engine may now hold this PIN.
    s.pinCertificateId = certificateId;
    if (!ENGINE_ctrl_cmd_string(engine.get(), "PIN", pin.c_str(), 0)) {
        logLine(LogLevel::Warn,
                "HttpClient: ENGINE_ctrl_cmd_string(PIN) returned 0 — engine may reject the PIN");
        ERR_clear_error();
    }
    return true;
}

std::string Pkcs11Engine::findLibraryPath() {
    std::vector<fs::path> folders;
    if (const char* own = std::getenv("OPENSSL_ENGINES"); own != nullptr && *own != '\0') {
        folders.emplace_back(own);
    }
    for (const char* folder :
         {"/opt/homebrew/lib/engines-3", "/usr/local/lib/engines-3", "/usr/lib/x86_64-linux-gnu/engines-3",
          "/usr/lib64/engines-3", "/usr/lib/engines-3"}) {
        folders.emplace_back(folder);
    }
    for (const char* cellar : {"/opt/homebrew/Cellar/libp11", "/usr/local/Cellar/libp11"}) {
        std::error_code ec;
        for (fs::directory_iterator it(cellar, ec), end; !ec && it != end; it.increment(ec)) {
            folders.push_back(it->path() / "lib" / "engines-3");
        }
    }
    for (const fs::path& folder : folders) {
        for (const char* name : kLibraryNames) {
            if (entryExists(folder / name)) {
                return (folder / name).string();
            }
        }
    }
    return {};
}

}  // namespace velk::core::infra::http
