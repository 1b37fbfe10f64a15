#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "infrastructure/http/HttpClientOptions.h"
#include "infrastructure/http/HttpResponse.h"

namespace velk::core::infra::http {

// Synchronous HTTP over one libcurl easy handle: its own connection cache and
// its own cookie jar. Network failures never throw; they come back as a
// response with status 0 and libcurl's error text. HTTP statuses are the
// caller's to judge. One thread at a time per client.
class HttpClient {
public:
    // Takes one received piece of a body; false stops the transfer, which
    // then fails.
    using BodySink = std::function<bool(std::string_view piece)>;

    explicit HttpClient(HttpClientOptions options);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    static std::unique_ptr<HttpClient> create(HttpClientOptions options);
    // Looks like a desktop browser and presents the user's certificate.
    static std::unique_ptr<HttpClient> forPortal(std::string clientCertId, std::string pkcs11Pin);
    // For the agency's REST API.
    static std::unique_ptr<HttpClient> forAgent();
    // For the maker's cloud: a short time limit and a body of at most 1 MiB.
    static std::unique_ptr<HttpClient> forCloud();

    HttpResponse get(const std::string& url, const HttpHeaders& headers);
    // The same on a new connection with a new TLS session and a 10 s limit.
    HttpResponse getFresh(const std::string& url, const HttpHeaders& headers);
    HttpResponse post(const std::string& url, std::string_view body, const std::string& contentType,
                      const HttpHeaders& headers);
    // application/x-www-form-urlencoded; values escaped, names sent as given.
    HttpResponse postForm(const std::string& url, const FormFields& fields, const HttpHeaders& headers);
    // The body only, whatever the status; empty when the transfer failed.
    std::vector<std::uint8_t> getBytes(const std::string& url, const HttpHeaders& headers);
    // A GET whose body goes to sink piece by piece as it arrives and is never
    // held whole. The response has no body; its status is that of the last
    // response received, also when the transfer failed or sink stopped it.
    HttpResponse getStreamed(const std::string& url, const HttpHeaders& headers, const BodySink& sink);

    // Whether a failed transfer was refused because its URL, or a redirect,
    // named a scheme outside HttpClientOptions::protocols.
    static bool refusedProtocol(const HttpResponse& response);

    // One Netscape cookie-file line per cookie, each ended by a line feed.
    std::string cookieList() const;
    // Adds or replaces a session cookie.
    void addCookie(const std::string& name, const std::string& value, const std::string& domain,
                   const std::string& path, bool secure);
    void clearCookies();

    // Ends the transfer that runs now and every later one as failed, so a
    // thread waiting for this client is never held for the whole time-out
    // (libcurl looks at it about once a second or more often). The only call
    // that may come from another thread.
    void cancel();

private:
    struct Impl;
    static void configureClientCertificate(Impl& impl);

    std::unique_ptr<Impl> impl_;
};

}  // namespace velk::core::infra::http
