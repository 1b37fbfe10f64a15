#pragma once

#include <memory>
#include <optional>
#include <string>

#include <curl/curl.h>

#include "infrastructure/http/HttpClientOptions.h"
#include "infrastructure/http/HttpResponse.h"
#include "platform/CertStore.h"

namespace velk::core::infra::http {

// The TLS client certificate of one HttpClient. A certificate-store id
// presents the store's PKCS#12 file (CURLOPT_SSLCERT_BLOB) unlocked by the
// key provider's PIN; a PKCS#11 id presents a token key through the OpenSSL
// pkcs11 engine. Problems are logged, never thrown: a certificate that cannot
// be used shows up as a transfer error of the first TLS request.
class ClientCertificate {
public:
    static std::unique_ptr<ClientCertificate> configure(CURL* handle, const HttpClientOptions& options);
    ~ClientCertificate();
    ClientCertificate(const ClientCertificate&) = delete;
    ClientCertificate& operator=(const ClientCertificate&) = delete;

    // Around every transfer: a store key's PIN is handed to libcurl only for
    // the transfer's time. A key whose PIN was refused, or whose prompt was
    // cancelled, cannot take part: the transfer is not worth starting.
    KeyPinRefusal beforeTransfer(CURL* handle);
    void afterTransfer(CURL* handle);

private:
    ClientCertificate() = default;
    static void configurePkcs11(CURL* handle, const HttpClientOptions& options);
    void configureStore(CURL* handle, const std::string& id);
    // Looks the store certificate up and hands it to libcurl; when the store
    // lacks it, every handshake is refused. False when not found.
    bool presentStoreCertificate(CURL* handle);

    std::string storeId_;  // thumbprint, upper-case hexadecimal
    std::optional<platform::StoreCertificate> storeCertificate_;
    std::string keyPassword_;
};

}  // namespace velk::core::infra::http
