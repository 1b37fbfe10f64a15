#include "fakes/TestServer.h"

#include <httplib.h>

#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "common/TextUtils.h"
#include "platform/OpenSslPtr.h"

namespace velk::test {

using platform::BioPtr;
using platform::EvpPkeyPtr;
using platform::X509Ptr;

namespace {

BioPtr memoryBio(const std::string& pem) {
    return BioPtr(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
}

std::vector<X509Ptr> readCertificates(const std::string& pem) {
    std::vector<X509Ptr> out;
    BioPtr bio = memoryBio(pem);
    while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
        out.emplace_back(cert);
    }
    ERR_clear_error();  // the loop ends on a "no start line" error
    return out;
}

bool setUpContext(SSL_CTX& ctx, const TlsIdentity& identity) {
    std::vector<X509Ptr> chain = readCertificates(identity.certificatePem);
    BioPtr keyBio = memoryBio(identity.privateKeyPem);
    EvpPkeyPtr key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    if (chain.empty() || !key || SSL_CTX_use_certificate(&ctx, chain.front().get()) != 1 ||
        SSL_CTX_use_PrivateKey(&ctx, key.get()) != 1) {
        return false;
    }
    for (std::size_t i = 1; i < chain.size(); ++i) {
        if (SSL_CTX_add_extra_chain_cert(&ctx, chain[i].get()) != 1) {
            return false;
        }
        chain[i].release();  // the context owns it now
    }
    if (identity.clientCaPem.empty()) {
        return true;
    }
    std::vector<X509Ptr> cas = readCertificates(identity.clientCaPem);
    if (cas.empty()) {
        return false;
    }
    X509_STORE* store = SSL_CTX_get_cert_store(&ctx);
    for (const X509Ptr& ca : cas) {
        if (X509_STORE_add_cert(store, ca.get()) != 1 || SSL_CTX_add_client_CA(&ctx, ca.get()) != 1) {
            return false;
        }
    }
    SSL_CTX_set_verify(&ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    // Without a session id context OpenSSL refuses to resume a session that
    // verified a client certificate, and a client reconnecting with its
    // ticket gets an internal-error alert.
    static constexpr unsigned char kSessionContext[] = "velk-test-server";
    return SSL_CTX_set_session_id_context(&ctx, kSessionContext, sizeof kSessionContext - 1) == 1;
}

std::string peerSubject(const httplib::Request& req) {
    if (req.ssl == nullptr) {
        return {};
    }
    X509* cert = SSL_get0_peer_certificate(req.ssl);
    if (cert == nullptr) {
        return {};
    }
    BioPtr out(BIO_new(BIO_s_mem()));
    // UTF-8 as it is, not escaped byte by byte.
    X509_NAME_print_ex(out.get(), X509_get_subject_name(cert), 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long size = BIO_get_mem_data(out.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

std::vector<std::pair<std::string, std::string>> parseCookies(const std::string& header) {
    std::vector<std::pair<std::string, std::string>> out;
    std::string_view rest = header;
    while (!rest.empty()) {
        const std::size_t semi = rest.find(';');
        const std::string_view item = core::trimView(rest.substr(0, semi));
        if (!item.empty()) {
            const std::size_t eq = item.find('=');
            out.emplace_back(std::string(item.substr(0, eq)),
                             eq == std::string_view::npos ? std::string() : std::string(item.substr(eq + 1)));
        }
        if (semi == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(semi + 1);
    }
    return out;
}

RecordedRequest record(const httplib::Request& req) {
    RecordedRequest r;
    r.method = req.method;
    r.path = req.path;
    const std::size_t mark = req.target.find('?');
    if (mark != std::string::npos) {
        r.query = req.target.substr(mark + 1);
    }
    for (const auto& [name, value] : req.headers) {
        // httplib adds these for its own bookkeeping; they were not sent.
        if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT") {
            continue;
        }
        r.headers.emplace_back(name, value);
    }
    if (auto cookie = r.header("Cookie")) {
        r.cookies = parseCookies(*cookie);
    }
    r.body = req.body;
    r.clientCertSubject = peerSubject(req);
    r.clientPort = req.remote_port;
    return r;
}

}  // namespace

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
    for (const auto& [n, v] : headers) {
        if (core::iequalsAscii(n, name)) {
            return v;
        }
    }
    return std::nullopt;
}

std::size_t RecordedRequest::headerCount(std::string_view name) const {
    std::size_t count = 0;
    for (const auto& entry : headers) {
        count += core::iequalsAscii(entry.first, name) ? 1 : 0;
    }
    return count;
}

std::optional<std::string> RecordedRequest::cookie(std::string_view name) const {
    for (const auto& [n, v] : cookies) {
        if (n == name) {
            return v;
        }
    }
    return std::nullopt;
}

Reply Reply::text(int status, std::string body) {
    Reply r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

Reply Reply::json(int status, std::string body) {
    Reply r = text(status, std::move(body));
    r.contentType = "application/json";
    return r;
}

Reply Reply::redirect(std::string location, int status) {
    Reply r = text(status, {});
    r.headers.emplace_back("Location", std::move(location));
    return r;
}

Reply Reply::streamed(int status, std::string head, std::size_t length, char filler) {
    Reply r = text(status, std::move(head));
    r.streamedLength = length;
    r.filler = filler;
    return r;
}

Reply& Reply::header(std::string name, std::string value) {
    headers.emplace_back(std::move(name), std::move(value));
    return *this;
}

Reply& Reply::setCookie(std::string cookie) {
    return header("Set-Cookie", std::move(cookie));
}

Reply& Reply::after(std::chrono::milliseconds wait) {
    delay = wait;
    return *this;
}

struct TestServer::Impl {
    std::unique_ptr<httplib::Server> server;
    bool tls = false;
    int port = 0;
    std::thread thread;
    std::atomic<bool> listenEnded{false};

    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::map<std::pair<std::string, std::string>, Handler> routes;
    std::map<std::pair<std::string, std::string>, Handler> prefixRoutes;
    std::vector<RecordedRequest> log;

    // Under mutex.
    Handler longestPrefixRoute(const RecordedRequest& request) const {
        std::size_t bestLength = 0;
        Handler best;
        for (const auto& [key, handler] : prefixRoutes) {
            const auto& [method, prefix] = key;
            if (method == request.method && request.path.starts_with(prefix) && prefix.size() >= bestLength) {
                bestLength = prefix.size();
                best = handler;
            }
        }
        return best;
    }

    void handle(const httplib::Request& req, httplib::Response& res) {
        RecordedRequest request = record(req);
        Handler handler;
        {
            std::lock_guard lock(mutex);
            log.push_back(request);
            const auto it = routes.find({request.method, request.path});
            if (it != routes.end()) {
                handler = it->second;
            } else {
                handler = longestPrefixRoute(request);
            }
        }
        const Reply reply = handler ? handler(request) : Reply::text(404, "no route");
        if (reply.delay.count() > 0) {
            std::unique_lock lock(mutex);
            wake.wait_for(lock, reply.delay, [this] { return stopping; });
        }
        res.status = reply.status;
        for (const auto& [name, value] : reply.headers) {
            res.set_header(name, value);
        }
        if (reply.streamedLength > 0) {
            streamContent(reply, res);
        } else {
            res.set_content(reply.body, reply.contentType);
        }
    }

    // One buffer of filler for the whole reply: nothing grows with its size.
    static void streamContent(const Reply& reply, httplib::Response& res) {
        constexpr std::size_t kPiece = 64 * 1024;
        auto filler = std::make_shared<const std::string>(kPiece, reply.filler);
        res.set_content_provider(
            reply.streamedLength, reply.contentType,
            [head = reply.body, filler](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                if (offset < head.size()) {
                    const std::size_t n = std::min(length, head.size() - offset);
                    return sink.write(head.data() + offset, n);
                }
                return sink.write(filler->data(), std::min(length, filler->size()));
            });
    }
};

TestServer::TestServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {
    Impl* state = impl_.get();
    const auto dispatch = [state](const httplib::Request& req, httplib::Response& res) {
        state->handle(req, res);
    };
    httplib::Server& s = *impl_->server;
    s.Get(".*", dispatch);
    s.Post(".*", dispatch);
    s.Put(".*", dispatch);
    s.Patch(".*", dispatch);
    s.Delete(".*", dispatch);
    s.Options(".*", dispatch);
}

std::unique_ptr<TestServer> TestServer::plain() {
    auto impl = std::make_unique<Impl>();
    impl->server = std::make_unique<httplib::Server>();
    return std::unique_ptr<TestServer>(new TestServer(std::move(impl)));
}

std::unique_ptr<TestServer> TestServer::tls(const TlsIdentity& identity) {
    auto impl = std::make_unique<Impl>();
    auto server = std::make_unique<httplib::SSLServer>(
        [identity](SSL_CTX& ctx) { return setUpContext(ctx, identity); });
    if (!server->is_valid()) {
        throw std::runtime_error("TestServer: unusable TLS identity");
    }
    impl->server = std::move(server);
    impl->tls = true;
    return std::unique_ptr<TestServer>(new TestServer(std::move(impl)));
}

TestServer::~TestServer() {
    stop();
}

void TestServer::on(std::string method, std::string path, Reply reply) {
    on(std::move(method), std::move(path),
       [reply = std::move(reply)](const RecordedRequest&) { return reply; });
}

void TestServer::on(std::string method, std::string path, Handler handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->routes[{std::move(method), std::move(path)}] = std::move(handler);
}

void TestServer::onPrefix(std::string method, std::string prefix, Handler handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->prefixRoutes[{std::move(method), std::move(prefix)}] = std::move(handler);
}

void TestServer::start(int port) {
    if (impl_->thread.joinable()) {
        return;
    }
    // Without TCP_NODELAY every reply on a kept-open connection waits for the
    // client's delayed ACK (about 40 ms).
    impl_->server->set_tcp_nodelay(true);
    // The socket listens once bound, so clients may connect before the
    // thread below accepts.
    if (port > 0) {
        impl_->port = impl_->server->bind_to_port("127.0.0.1", port) ? port : -1;
    } else {
        impl_->port = impl_->server->bind_to_any_port("127.0.0.1");
    }
    if (impl_->port <= 0) {
        throw std::runtime_error("TestServer: cannot bind loopback port " + std::to_string(port));
    }
    impl_->listenEnded = false;
    impl_->thread = std::thread([impl = impl_.get()] {
        impl->server->listen_after_bind();
        impl->listenEnded = true;
    });
    // httplib's stop() does nothing until the accept loop runs; a stop that
    // came earlier would leave the thread listening for ever.
    while (!impl_->server->is_running() && !impl_->listenEnded) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void TestServer::stop() {
    if (!impl_->thread.joinable()) {
        return;
    }
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->wake.notify_all();
    impl_->server->stop();
    impl_->thread.join();
}

int TestServer::port() const {
    return impl_->port;
}

bool TestServer::isTls() const {
    return impl_->tls;
}

std::string TestServer::url(std::string_view path) const {
    return std::string(impl_->tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(impl_->port) +
           std::string(path);
}

std::string TestServer::connectTo(std::string_view host, int port) const {
    return std::string(host) + ":" + std::to_string(port) + ":127.0.0.1:" + std::to_string(impl_->port);
}

std::vector<RecordedRequest> TestServer::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->log;
}

std::vector<RecordedRequest> TestServer::requestsTo(std::string_view path) const {
    std::vector<RecordedRequest> out;
    std::lock_guard lock(impl_->mutex);
    for (const RecordedRequest& r : impl_->log) {
        if (r.path == path) {
            out.push_back(r);
        }
    }
    return out;
}

void TestServer::clearRequests() {
    std::lock_guard lock(impl_->mutex);
    impl_->log.clear();
}

}  // namespace velk::test
