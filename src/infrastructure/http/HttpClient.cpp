#include "infrastructure/http/HttpClient.h"

#include <atomic>

#include "common/AgencyEndpoints.h"
#include "common/Logger.h"
#include "common/TextUtils.h"
#include "infrastructure/http/ClientCertificate.h"
#include "infrastructure/http/CurlPtr.h"
#include "infrastructure/http/TransportOverrides.h"
#include "platform/SecureWipe.h"

namespace velk::core::infra::http {

namespace {

constexpr const char* kNoHandle = "curl handle not initialised";
constexpr long kFreshTimeoutSeconds = 10;

// libcurl reports every cookie it stores as
//   Added cookie NAME="VALUE" for domain D, path P, expire E
// Session cookies are credentials and the log is a file: the value is masked.
std::string maskCookieValue(std::string text) {
    for (std::string_view verb : {"Added cookie ", "Replaced cookie "}) {
        if (text.rfind(verb, 0) != 0) {
            continue;
        }
        const std::size_t open = text.find("=\"", verb.size());
        const std::size_t close = text.rfind("\" for domain ");
        if (open != std::string::npos && close != std::string::npos && close >= open + 2) {
            text.replace(open + 2, close - open - 2, "***");
        }
    }
    return text;
}

int curlDebugLine(CURL*, curl_infotype type, char* data, std::size_t size, void*) {
    if (type != CURLINFO_TEXT) {
        return 0;
    }
    std::string text(data, size);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
        text.pop_back();
    }
    if (!text.empty()) {
        // Names cookies and certificates the servers chose.
        logLine(LogLevel::Info, "curl: " + escapeControlBytes(maskCookieValue(std::move(text))));
    }
    return 0;
}

std::size_t appendToBody(char* data, std::size_t size, std::size_t count, void* userdata) {
    const std::size_t bytes = size * count;
    static_cast<std::string*>(userdata)->append(data, bytes);
    return bytes;
}

std::size_t toSink(char* data, std::size_t size, std::size_t count, void* userdata) {
    const std::size_t bytes = size * count;
    const auto& sink = *static_cast<const HttpClient::BodySink*>(userdata);
    // Any other count than the one handed in fails the transfer.
    return sink(std::string_view(data, bytes)) ? bytes : 0;
}

std::size_t appendToBytes(char* data, std::size_t size, std::size_t count, void* userdata) {
    const std::size_t bytes = size * count;
    auto* out = static_cast<std::vector<std::uint8_t>*>(userdata);
    out->insert(out->end(), reinterpret_cast<const std::uint8_t*>(data),
                reinterpret_cast<const std::uint8_t*>(data) + bytes);
    return bytes;
}

// One call per header line of every response in a redirect chain, status
// lines and the blank line included; those have no colon and are skipped.
std::size_t collectHeaderLine(char* data, std::size_t size, std::size_t count, void* userdata) {
    const std::size_t bytes = size * count;
    const std::string_view line(data, bytes);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        return bytes;
    }
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
        value.remove_prefix(1);
    }
    // Only the line end goes; other trailing white space is part of the value.
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) {
        value.remove_suffix(1);
    }
    (*static_cast<HttpHeaders*>(userdata))[std::string(line.substr(0, colon))] = std::string(value);
    return bytes;
}

std::size_t discardHeaderLine(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

CurlSlistPtr headerList(const HttpHeaders& headers, CurlSlistPtr list = {}) {
    for (const auto& [name, value] : headers) {
        appendLine(list, (name + ": " + value).c_str());
    }
    return list;
}

}  // namespace

struct HttpClient::Impl {
    HttpClientOptions options;
    CurlEasyPtr handle;
    // Both outlive every transfer of the handle, which points into them.
    TransportOverrides transport;
    std::unique_ptr<ClientCertificate> clientCertificate;
    std::atomic<bool> cancelled{false};
    // Of the last transfer.
    KeyPinRefusal keyPinRefusal = KeyPinRefusal::None;

    ~Impl() {
        // Close the handle first: libcurl writes the cookie file on cleanup.
        handle.reset();
        platform::secureWipe(options.pkcs11Pin);
    }

    // Sets the header list, runs the transfer and detaches the list again,
    // so no request inherits another's headers.
    CURLcode perform(CurlSlistPtr headers) {
        if (cancelled.load()) {
            return CURLE_ABORTED_BY_CALLBACK;
        }
        keyPinRefusal = KeyPinRefusal::None;
        curl_easy_setopt(handle.get(), CURLOPT_HTTPHEADER, headers.get());
        if (clientCertificate) {
            keyPinRefusal = clientCertificate->beforeTransfer(handle.get());
        }
        // A key that cannot be unlocked fails the handshake anyway; nothing
        // is sent.
        const CURLcode rc =
            keyPinRefusal == KeyPinRefusal::None ? curl_easy_perform(handle.get()) : CURLE_SSL_CERTPROBLEM;
        if (clientCertificate) {
            clientCertificate->afterTransfer(handle.get());
        }
        curl_easy_setopt(handle.get(), CURLOPT_HTTPHEADER, nullptr);
        return rc;
    }

    // libcurl's progress callback: a non-zero answer aborts the transfer.
    static int abortCheck(void* userdata, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
        const auto* impl = static_cast<const Impl*>(userdata);
        const std::int64_t limit = impl->options.maxBodyBytes;
        return impl->cancelled.load() || (limit > 0 && received > limit) ? 1 : 0;
    }
};

HttpClient::HttpClient(HttpClientOptions options) : impl_(std::make_unique<Impl>()) {
    impl_->options = std::move(options);
    impl_->handle.reset(curl_easy_init());
    CURL* h = impl_->handle.get();
    if (h == nullptr) {
        logLine(LogLevel::Error, "HttpClient: curl_easy_init failed");
        return;
    }
    const HttpClientOptions& o = impl_->options;
    curl_easy_setopt(h, CURLOPT_USERAGENT, o.userAgent.c_str());
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, o.followRedirects ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, static_cast<long>(o.maxRedirects));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(o.timeout.count()));
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, o.verifyTls ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, o.verifyTls ? 2L : 0L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, o.protocols.c_str());
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, o.protocols.c_str());
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, curlDebugLine);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, impl_.get());
    // An empty name switches the cookie engine on without reading a file.
    curl_easy_setopt(h, CURLOPT_COOKIEFILE, o.cookieFile.c_str());
    if (!o.cookieFile.empty()) {
        curl_easy_setopt(h, CURLOPT_COOKIEJAR, o.cookieFile.c_str());
    }
    // Several threads use libcurl; time-outs must not rely on signals.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, Impl::abortCheck);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, impl_.get());
    if (o.maxBodyBytes > 0) {
        // Refused before the body when the length is announced.
        curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(o.maxBodyBytes));
    }
    impl_->transport = TransportOverrides::fromEnvironment();
    impl_->transport.apply(h);
    if (!o.clientCertId.empty()) {
        configureClientCertificate(*impl_);
    }
}

HttpClient::~HttpClient() = default;

void HttpClient::configureClientCertificate(Impl& impl) {
    impl.clientCertificate = ClientCertificate::configure(impl.handle.get(), impl.options);
}

std::unique_ptr<HttpClient> HttpClient::create(HttpClientOptions options) {
    return std::make_unique<HttpClient>(std::move(options));
}

std::unique_ptr<HttpClient> HttpClient::forPortal(std::string clientCertId, std::string pkcs11Pin) {
    HttpClientOptions options;
    options.followRedirects = true;
    options.clientCertId = std::move(clientCertId);
    options.pkcs11Pin = std::move(pkcs11Pin);
    return create(std::move(options));
}

std::unique_ptr<HttpClient> HttpClient::forAgent() {
    HttpClientOptions options;
    options.userAgent = "VezoRodarC/0.1";
    options.followRedirects = true;
    return create(std::move(options));
}

std::unique_ptr<HttpClient> HttpClient::forCloud() {
    HttpClientOptions options;
    options.userAgent = "VezoRodarC/0.1 (+" + std::string(AgencyEndpoints::kMakerWebDomain) + ")";
    options.followRedirects = true;
    options.timeout = std::chrono::seconds(10);
    // Its replies are small JSON documents.
    options.maxBodyBytes = 1024 * 1024;
    return create(std::move(options));
}

HttpResponse HttpClient::get(const std::string& url, const HttpHeaders& headers) {
    HttpResponse response;
    CURL* h = impl_->handle.get();
    if (h == nullptr) {
        response.error = kNoHandle;
        return response;
    }
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, appendToBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &response.body);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, collectHeaderLine);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &response.headers);
    const CURLcode rc = impl_->perform(headerList(headers));
    if (rc != CURLE_OK) {
        response.error = curl_easy_strerror(rc);
        response.keyPinRefusal = impl_->keyPinRefusal;
        return response;
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    response.status = static_cast<std::int32_t>(status);
    const char* effective = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective != nullptr) {
        response.effectiveUrl = effective;
    }
    return response;
}

HttpResponse HttpClient::getFresh(const std::string& url, const HttpHeaders& headers) {
    CURL* h = impl_->handle.get();
    if (h != nullptr) {
        curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
        curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
        curl_easy_setopt(h, CURLOPT_SSL_SESSIONID_CACHE, 0L);
        curl_easy_setopt(h, CURLOPT_TIMEOUT, kFreshTimeoutSeconds);
    }
    HttpResponse response = get(url, headers);
    if (h != nullptr) {
        curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 0L);
        curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 0L);
        curl_easy_setopt(h, CURLOPT_SSL_SESSIONID_CACHE, 1L);
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(impl_->options.timeout.count()));
    }
    return response;
}

HttpResponse HttpClient::post(const std::string& url, std::string_view body, const std::string& contentType,
                              const HttpHeaders& headers) {
    HttpResponse response;
    CURL* h = impl_->handle.get();
    if (h == nullptr) {
        response.error = kNoHandle;
        return response;
    }
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    // Never a null pointer: libcurl would then read the body from a callback.
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.empty() ? "" : body.data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, appendToBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &response.body);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, collectHeaderLine);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &response.headers);

    CurlSlistPtr list;
    // Only these two spellings count as the caller's own content type.
    if (!headers.contains("Content-Type") && !headers.contains("content-type") && !contentType.empty()) {
        appendLine(list, ("Content-Type: " + contentType).c_str());
    }
    const CURLcode rc = impl_->perform(headerList(headers, std::move(list)));
    // The body belongs to the caller and ends with this call.
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, nullptr);
    if (rc != CURLE_OK) {
        response.error = curl_easy_strerror(rc);
        response.keyPinRefusal = impl_->keyPinRefusal;
        return response;
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    response.status = static_cast<std::int32_t>(status);
    return response;
}

HttpResponse HttpClient::postForm(const std::string& url, const HttpHeaders& fields,
                                  const HttpHeaders& headers) {
    std::string body;
    CURL* h = impl_->handle.get();
    for (const auto& [name, value] : fields) {
        if (!body.empty()) {
            body.push_back('&');
        }
        body.append(name);
        body.push_back('=');
        if (h != nullptr) {
            CurlStringPtr escaped(curl_easy_escape(h, value.data(), static_cast<int>(value.size())));
            if (escaped) {
                body.append(escaped.get());
            }
        }
    }
    HttpHeaders withType = headers;
    withType["Content-Type"] = "application/x-www-form-urlencoded";
    return post(url, body, "application/x-www-form-urlencoded", withType);
}

std::vector<std::uint8_t> HttpClient::getBytes(const std::string& url, const HttpHeaders& headers) {
    std::vector<std::uint8_t> bytes;
    CURL* h = impl_->handle.get();
    if (h == nullptr) {
        return bytes;
    }
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, appendToBytes);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &bytes);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, discardHeaderLine);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, nullptr);
    // A cut-off download (an installer, the Java client) must not pass for a
    // whole one: a failed transfer gives nothing.
    if (impl_->perform(headerList(headers)) != CURLE_OK) {
        bytes.clear();
    }
    return bytes;
}

HttpResponse HttpClient::getStreamed(const std::string& url, const HttpHeaders& headers,
                                     const BodySink& sink) {
    HttpResponse response;
    CURL* h = impl_->handle.get();
    if (h == nullptr) {
        response.error = kNoHandle;
        return response;
    }
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, toSink);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, collectHeaderLine);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &response.headers);
    const CURLcode rc = impl_->perform(headerList(headers));
    if (rc != CURLE_OK) {
        response.error = curl_easy_strerror(rc);
    }
    // The caller tells an error page from a body it stopped by the status.
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    response.status = static_cast<std::int32_t>(status);
    return response;
}

bool HttpClient::refusedProtocol(const HttpResponse& response) {
    return response.error == curl_easy_strerror(CURLE_UNSUPPORTED_PROTOCOL);
}

std::string HttpClient::cookieList() const {
    std::string text;
    CURL* h = impl_->handle.get();
    if (h == nullptr) {
        return text;
    }
    curl_slist* raw = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_COOKIELIST, &raw) != CURLE_OK) {
        return text;
    }
    const CurlSlistPtr cookies(raw);
    for (const curl_slist* item = cookies.get(); item != nullptr; item = item->next) {
        text.append(item->data);
        text.push_back('\n');
    }
    return text;
}

void HttpClient::addCookie(const std::string& name, const std::string& value, const std::string& domain,
                           const std::string& path, bool secure) {
    CURL* h = impl_->handle.get();
    if (h == nullptr) {
        return;
    }
    const bool subdomains = !domain.empty() && domain.front() == '.';
    const std::string line = domain + '\t' + (subdomains ? "TRUE" : "FALSE") + '\t' + path + '\t' +
                             (secure ? "TRUE" : "FALSE") + "\t0\t" + name + '\t' + value;
    curl_easy_setopt(h, CURLOPT_COOKIELIST, line.c_str());
}

void HttpClient::cancel() {
    impl_->cancelled.store(true);
}

void HttpClient::clearCookies() {
    if (CURL* h = impl_->handle.get()) {
        curl_easy_setopt(h, CURLOPT_COOKIELIST, "ALL");
    }
}

}  // namespace velk::core::infra::http
