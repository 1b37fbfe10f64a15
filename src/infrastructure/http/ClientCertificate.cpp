#include "infrastructure/http/ClientCertificate.h"

#include <cstdlib>

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "infrastructure/http/Pkcs11Engine.h"
#include "infrastructure/http/Pkcs11KeyId.h"
#include "infrastructure/signing/HexText.h"
#include "platform/PinPrompt.h"
#include "platform/SecureWipe.h"
#include "platform/StoreKey.h"

namespace velk::core::infra::http {

namespace {

// The only store there is here: the current user's personal one.
constexpr std::string_view kCurrentUserMy = "CurrentUser\\MY\\";

// Refuses every TLS connection as a problem with the local certificate, as
// the handshake does for a certificate the store does not hold.
CURLcode refuseHandshake(CURL*, void*, void*) {
    return CURLE_SSL_CERTPROBLEM;
}

std::optional<platform::StoreCertificate> findInStore(const std::string& thumbprint) {
    int error = 0;
    const std::optional<platform::CertStore> store = platform::CertStore::openMy(error);
    const signing::Bytes sha1 = signing::hexDecode(thumbprint);
    if (!store || sha1.size() != 20) {
        return std::nullopt;
    }
    const platform::StoreCertificate* found = store->findBySha1(sha1);
    if (found == nullptr || !found->keyProvider) {
        return std::nullopt;
    }
    return *found;
}

}  // namespace

std::unique_ptr<ClientCertificate> ClientCertificate::configure(CURL* handle,
                                                                const HttpClientOptions& options) {
    std::unique_ptr<ClientCertificate> certificate(new ClientCertificate);
    if (isPkcs11CertificateId(options.clientCertId)) {
        configurePkcs11(handle, options);
    } else {
        certificate->configureStore(handle, options.clientCertId);
    }
    return certificate;
}

ClientCertificate::~ClientCertificate() {
    platform::secureWipe(keyPassword_);
}

void ClientCertificate::configurePkcs11(CURL* handle, const HttpClientOptions& options) {
    std::string module = options.pkcs11ModulePath;
    if (module.empty()) {
        if (const char* fromEnv = std::getenv("VELK_PKCS11_MODULE")) {
            module = fromEnv;
        }
    }
    if (module.empty()) {
        logLine(LogLevel::Warn,
                "HttpClient: PKCS#11 cert id but no module path configured — set VELK_PKCS11_MODULE or "
                "HttpClientOptions.pkcs11ModulePath");
    } else {
        logLine(LogLevel::Info, "HttpClient: PKCS#11 module = " + module);
    }
    Pkcs11Engine::load(module);

    const std::string& id = options.clientCertId;
    const std::string reference = id.starts_with("pkcs11:") ? id : pkcs11EngineKeyId(id);
    const bool withPin = !options.pkcs11Pin.empty();
    if (!Pkcs11Engine::setPinFor(id, options.pkcs11Pin)) {
        // The key is not even named to the engine: loading it would log its
        // token in with the PIN of another certificate.
        logLine(LogLevel::Warn, "HttpClient: no PIN for " + reference +
                                    "; the engine holds another certificate's PIN, which is not used");
        curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, refuseHandshake);
        return;
    }
    curl_easy_setopt(handle, CURLOPT_SSLENGINE, Pkcs11Engine::kEngineId);
    curl_easy_setopt(handle, CURLOPT_SSLENGINE_DEFAULT, 1L);
    curl_easy_setopt(handle, CURLOPT_SSLCERT, reference.c_str());
    curl_easy_setopt(handle, CURLOPT_SSLCERTTYPE, "ENG");
    curl_easy_setopt(handle, CURLOPT_SSLKEY, reference.c_str());
    curl_easy_setopt(handle, CURLOPT_SSLKEYTYPE, "ENG");
    logLine(LogLevel::Info, "HttpClient: using PKCS#11 engine, cert=" + reference +
                                (withPin ? " [PIN set]" : " [no PIN supplied]"));
}

void ClientCertificate::configureStore(CURL* handle, const std::string& id) {
    const std::string storePath = id.find('\\') != std::string::npos ? id : std::string(kCurrentUserMy) + id;
    logLine(LogLevel::Info, "HttpClient: SChannel cert path = " + storePath);

    if (storePath.size() > kCurrentUserMy.size() &&
        iequalsAscii(std::string_view(storePath).substr(0, kCurrentUserMy.size()), kCurrentUserMy)) {
        storeId_ = asciiUpper(std::string_view(storePath).substr(kCurrentUserMy.size()));
    }
    if (!presentStoreCertificate(handle)) {
        logLine(LogLevel::Warn, "HttpClient: no certificate with a private key at " + storePath);
    }
}

bool ClientCertificate::presentStoreCertificate(CURL* handle) {
    if (!storeId_.empty()) {
        storeCertificate_ = findInStore(storeId_);
    }
    if (!storeCertificate_) {
        curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, refuseHandshake);
        return false;
    }
    curl_blob blob{};
    blob.data = storeCertificate_->pkcs12.data();
    blob.len = storeCertificate_->pkcs12.size();
    blob.flags = CURL_BLOB_COPY;
    curl_easy_setopt(handle, CURLOPT_SSLCERT_BLOB, &blob);
    curl_easy_setopt(handle, CURLOPT_SSLCERTTYPE, "P12");
    curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, nullptr);
    return true;
}

KeyPinRefusal ClientCertificate::beforeTransfer(CURL* handle) {
    // The store is read at each handshake: a certificate added to it since
    // the last one (its companion written, say) is used by the next.
    if (!storeId_.empty() && !storeCertificate_) {
        presentStoreCertificate(handle);
    }
    if (!storeCertificate_ || !storeCertificate_->keyProvider->pinProtected) {
        return KeyPinRefusal::None;
    }
    // The provider's PIN, checked against the key: the cached one, else the
    // one its prompt is answered with (unlocking caches it).
    std::uint32_t status = 0;
    if (std::optional<platform::StoreKey> key = platform::StoreKey::acquire(*storeCertificate_, status)) {
        status = key->unlockedPin(keyPassword_);
    }
    // Without the PIN the file does not open and the handshake fails as a
    // problem with the local certificate.
    curl_easy_setopt(handle, CURLOPT_KEYPASSWD, keyPassword_.c_str());
    switch (status) {
        case platform::kScardWWrongChv:
        case platform::kScardWChvBlocked:
            return KeyPinRefusal::WrongPin;
        case platform::kScardWCancelledByUser:
            return KeyPinRefusal::Cancelled;
        default:
            return KeyPinRefusal::None;
    }
}

void ClientCertificate::afterTransfer(CURL* handle) {
    if (keyPassword_.empty()) {
        return;
    }
    curl_easy_setopt(handle, CURLOPT_KEYPASSWD, nullptr);
    platform::secureWipe(keyPassword_);
}

}  // namespace velk::core::infra::http
