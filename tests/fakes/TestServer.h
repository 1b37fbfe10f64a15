#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velk::test {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// One request as the server saw it.
struct RecordedRequest {
    std::string method;
    std::string path;    // without the query
    std::string query;   // the raw text after '?', "" when there is none
    HeaderList headers;  // in arrival order
    std::vector<std::pair<std::string, std::string>> cookies;  // from the Cookie header, in order
    std::string body;
    // RFC 2253 subject of the TLS client certificate (UTF-8 unescaped); "" without one.
    std::string clientCertSubject;
    // The client's port: equal for requests on one connection.
    int clientPort = 0;

    // First value of a header, names compared without case.
    std::optional<std::string> header(std::string_view name) const;
    std::size_t headerCount(std::string_view name) const;
    std::optional<std::string> cookie(std::string_view name) const;
};

// What a route answers.
struct Reply {
    int status = 200;
    std::string body;
    std::string contentType = "text/plain";
    HeaderList headers;  // sent in order; a name may repeat (two Set-Cookie lines)
    // Answered only after this long, or at once when the server stops.
    std::chrono::milliseconds delay{0};
    // When not 0: the body is made while it is sent and never held whole:
    // body first, then the filler byte up to this many bytes in all.
    std::size_t streamedLength = 0;
    char filler = 0;

    static Reply text(int status, std::string body);
    static Reply json(int status, std::string body);
    static Reply redirect(std::string location, int status = 302);
    // head, then filler up to length bytes, made while it is sent.
    static Reply streamed(int status, std::string head, std::size_t length, char filler);
    Reply& header(std::string name, std::string value);
    Reply& setCookie(std::string cookie);  // one Set-Cookie line
    Reply& after(std::chrono::milliseconds wait);
};

using Handler = std::function<Reply(const RecordedRequest&)>;

// TLS identity of a server: PEM texts. With clientCaPem set, the handshake
// requires a client certificate issued by that CA.
struct TlsIdentity {
    std::string certificatePem;  // leaf first, then any intermediates
    std::string privateKeyPem;
    std::string clientCaPem;
};

// A loopback HTTP or HTTPS server on a free port with scripted routes and a
// log of every request. Unknown routes answer 404 "no route" (and are
// logged too). Routes may be added and changed while it runs. An exact route
// wins over a prefix route; among prefix routes the longest prefix wins.
class TestServer {
public:
    // Not started yet; throws std::runtime_error when the TLS identity is unusable.
    static std::unique_ptr<TestServer> plain();
    static std::unique_ptr<TestServer> tls(const TlsIdentity& identity);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    void on(std::string method, std::string path, Reply reply);
    void on(std::string method, std::string path, Handler handler);
    // Every path that starts with prefix ("/details/" serves "/details/x").
    void onPrefix(std::string method, std::string prefix, Handler handler);

    // Binds 127.0.0.1 on the port (0: one the system picks) and serves on its
    // own thread. Throws std::runtime_error when the port cannot be bound.
    void start(int port = 0);
    // Wakes delayed replies, stops listening and joins the thread.
    void stop();

    int port() const;
    bool isTls() const;
    // "http://127.0.0.1:<port>" + path (https for a TLS server).
    std::string url(std::string_view path) const;
    // "host:port:127.0.0.1:<port>", a CURLOPT_CONNECT_TO entry that sends
    // connections for host:port here.
    std::string connectTo(std::string_view host, int port) const;

    std::vector<RecordedRequest> requests() const;
    // Those with this path, in order.
    std::vector<RecordedRequest> requestsTo(std::string_view path) const;
    void clearRequests();

private:
    struct Impl;
    explicit TestServer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace velk::test
