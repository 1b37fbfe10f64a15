#include "server/HttpServer.h"

#include <sys/socket.h>

#include <atomic>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include <httplib.h>

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "server/CertificateRoutes.h"
#include "server/GrowingThreadPool.h"
#include "server/OperationCatalogRoute.h"
#include "server/OperationRunRoute.h"
#include "server/RequestBodyReader.h"
#include "server/RouteContext.h"
#include "server/ServiceRoutes.h"
#include "server/SubmissionJobRoutes.h"

namespace velk::server {

namespace {

constexpr const char* kHost = "127.0.0.1";

// The server whose listener or worker this thread is, if any.
thread_local const void* servingServer = nullptr;

// SO_REUSEADDR only: the library's default adds SO_REUSEPORT on Linux, which
// lets a second program listen on the same port unnoticed.
void reuseAddressOnly(socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
}

std::string exceptionDetail(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown";
    }
}

// Idle kept-open connections each hold a worker until they time out: a
// browser keeps up to six per host, and several browsers or profiles may.
// Workers are started as callers come, up to this many.
constexpr std::size_t kWorkerThreads = 32;
// Short, so that neither a new caller nor the stop waits on an idle one.
constexpr time_t kKeepAliveIdleSeconds = 1;

// The methods with routes; the library reads a body for some others too.
bool isRoutedMethod(const std::string& method) {
    return method == "GET" || method == "HEAD" || method == "POST" || method == "PUT" || method == "PATCH" ||
           method == "DELETE" || method == "OPTIONS";
}

// A library handler that calls one handler of a route group.
template <class Routes>
httplib::Server::Handler on(const Routes& routes,
                            void (Routes::*handler)(const httplib::Request&, httplib::Response&) const) {
    return [&routes, handler](const httplib::Request& req, httplib::Response& res) {
        (routes.*handler)(req, res);
    };
}

// The handler for a request that may carry a body: the body is read here,
// bounded, and the handler sees it as the request's. A body past the limit
// is answered 413 with "Connection: close", as its rest is never read.
httplib::Server::HandlerWithContentReader withBoundedBody(httplib::Server::Handler handler) {
    return [handler = std::move(handler)](const httplib::Request& req, httplib::Response& res,
                                          const httplib::ContentReader& reader) {
        std::string body;
        switch (RequestBodyReader::read(req, reader, HttpServer::kMaxBodyBytes, body)) {
            case RequestBodyReader::Outcome::Complete:
                break;
            case RequestBodyReader::Outcome::TooLarge:
                res.status = 413;
                res.set_header("Connection", "close");
                return;
            case RequestBodyReader::Outcome::Broken:
                res.status = res.status >= 400 ? res.status : 400;
                res.set_header("Connection", "close");
                return;
        }
        httplib::Request withBody = req;
        withBody.body = std::move(body);
        handler(withBody, res);
    };
}

// What the library answers a path no route of its method matches.
void answerNoRoute(const httplib::Request&, httplib::Response& res) {
    res.status = 404;
}

}  // namespace

struct HttpServer::Impl {
    // Kept for the server's lifetime; no route calls them.
    signing::SigningSession* signingSession;
    ui::UiConfirmer* confirmer;
    const int requestedPort;

    RouteContext context;
    ServiceRoutes serviceRoutes;
    OperationCatalogRoute catalogRoute{context};
    OperationRunRoute runRoute{context};
    CertificateRoutes certificateRoutes;
    SubmissionJobRoutes jobRoutes;

    httplib::Server server;
    std::thread listenerThread;
    std::atomic<bool> listenerExited{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<int> boundPort{0};
    bool started = false;
    std::mutex lifecycleMutex;  // start and the joining part of stop

    std::mutex helperMutex;
    std::thread stopHelper;

    Impl(core::VelkEngine* engine, core::infra::java::ZezizUrBridge* bridge,
         signing::SigningSession* signingSession, JobStore* jobStore, IFilePicker* filePicker,
         ui::UiConfirmer* confirmer, ISenderPicker* senderPicker, int port, ServerClocks clocks,
         std::function<void()> stopServer)
        : signingSession(signingSession),
          confirmer(confirmer),
          requestedPort(port),
          context(engine, jobStore, filePicker, senderPicker, std::move(clocks)),
          serviceRoutes(context, bridge, std::move(stopServer)),
          jobRoutes(jobStore) {}

    void configureServer() {
        server.set_default_headers({
            {"Access-Control-Allow-Origin", "*"},
            {"Access-Control-Allow-Headers",
             "Content-Type, Authorization, X-Velk-Type-Id, X-Velk-Sender-Id, X-Velk-File-Path"},
            {"Access-Control-Allow-Methods", "GET, POST, DELETE, OPTIONS"},
        });
        server.set_socket_options(reuseAddressOnly);
        // The library writes an answer's head and body apart; without this
        // the body waits for the caller's delayed acknowledgement.
        server.set_tcp_nodelay(true);
        server.set_keep_alive_timeout(kKeepAliveIdleSeconds);
        server.new_task_queue = [] { return new GrowingThreadPool(kWorkerThreads); };
        // Bodies with a Content-Length; the others stop in withBoundedBody.
        server.set_payload_max_length(kMaxBodyBytes);
        server.Options(".*", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
        server.set_logger(
            [](const httplib::Request& req, const httplib::Response& res) { logAccess(req, res); });
        server.set_exception_handler(handleException);
        server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
            servingServer = this;
            if (!isRoutedMethod(req.method)) {
                // Answered before the library would read a body without bound.
                res.status = 404;
                res.set_header("Connection", "close");
                return httplib::Server::HandlerResponse::Handled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
        registerRoutes();
    }

    // Every route that may receive a body reads it through withBoundedBody.
    // The library dispatches a POST, PUT and PATCH, and a DELETE with a
    // Content-Length, to these handlers first, so the paths without a route
    // get one here that reads the body as bounded and answers 404.
    void post(const char* pattern, httplib::Server::Handler handler) {
        server.Post(pattern, withBoundedBody(std::move(handler)));
    }
    void del(const char* pattern, const httplib::Server::Handler& handler) {
        server.Delete(pattern, handler);
        server.Delete(pattern, withBoundedBody(handler));
    }
    void answerNoRouteAfterBoundedBody() {
        server.Post(".*", withBoundedBody(answerNoRoute));
        server.Put(".*", withBoundedBody(answerNoRoute));
        server.Patch(".*", withBoundedBody(answerNoRoute));
        server.Delete(".*", withBoundedBody(answerNoRoute));
    }

    // In the order of the API's route table.
    void registerRoutes() {
        server.Get("/api/health", on(serviceRoutes, &ServiceRoutes::handleHealth));
        server.Get("/api/info", on(serviceRoutes, &ServiceRoutes::handleInfo));
        post("/api/shutdown", on(serviceRoutes, &ServiceRoutes::handleShutdown));
        server.Get("/api/operations", on(catalogRoute, &OperationCatalogRoute::handle));
        post("/api/pick-folder", on(serviceRoutes, &ServiceRoutes::handlePickFolder));
        post("/api/pick-file", on(serviceRoutes, &ServiceRoutes::handlePickFile));
        server.Get("/api/senders", on(serviceRoutes, &ServiceRoutes::handleListSenders));
        post("/api/v1/operations/([a-z0-9_]+)", on(runRoute, &OperationRunRoute::handle));
        server.Get("/api/certificates", on(certificateRoutes, &CertificateRoutes::handleListCertificates));
        post("/api/certificates/([^/]+)/select",
             on(certificateRoutes, &CertificateRoutes::handleSelectCertificate));
        post("/api/certificates/([^/]+)/pin", on(certificateRoutes, &CertificateRoutes::handleStorePin));
        del("/api/certificates/([^/]+)/pin", on(certificateRoutes, &CertificateRoutes::handleDeletePin));
        post("/api/validate", on(serviceRoutes, &ServiceRoutes::handleValidate));
        post("/api/submissions", on(jobRoutes, &SubmissionJobRoutes::handleCreateSubmission));
        server.Get("/api/submissions", on(jobRoutes, &SubmissionJobRoutes::handleListSubmissions));
        server.Get("/api/submissions/([^/]+)", on(jobRoutes, &SubmissionJobRoutes::handleGetSubmission));
        del("/api/submissions/([^/]+)", on(jobRoutes, &SubmissionJobRoutes::handleCancelSubmission));
        server.Get("/api/submissions/([^/]+)/results",
                   on(jobRoutes, &SubmissionJobRoutes::handleGetSubmissionResults));
        answerNoRouteAfterBoundedBody();
    }

    static void logAccess(const httplib::Request& req, const httplib::Response& res) {
        if (req.path == "/api/health") {
            return;
        }
        // The path arrives percent-decoded: control bytes in it must not start
        // a new log line.
        std::string line = core::escapeControlBytes(req.method) + " " + core::escapeControlBytes(req.path) +
                           " -> " + std::to_string(res.status);
        if (const std::string type = req.get_header_value("X-Velk-Type-Id"); !type.empty()) {
            line += " [type=" + core::escapeControlBytes(type) + "]";
        }
        if (!req.remote_addr.empty()) {
            line += " from " + req.remote_addr;
        }
        core::logLine(core::LogLevel::Info, line);
    }

    static void handleException(const httplib::Request& req, httplib::Response& res,
                                std::exception_ptr error) {
        core::logLine(core::LogLevel::Error, "HTTP handler threw on " + core::escapeControlBytes(req.method) +
                                                 " " + core::escapeControlBytes(req.path) + ": " +
                                                 core::escapeControlBytes(exceptionDetail(error)));
        res.status = 500;
        res.set_content(R"({"error":"internal error"})", "application/json; charset=utf-8");
    }

    // Binds synchronously; -1 when the port cannot be had.
    int bind() {
        if (requestedPort == 0) {
            return server.bind_to_any_port(kHost);
        }
        return server.bind_to_port(kHost, requestedPort) ? requestedPort : -1;
    }

    void listen() {
        servingServer = this;
        core::logLine(core::LogLevel::Info,
                      "HTTP listening on 127.0.0.1:" + std::to_string(boundPort.load()));
        server.listen_after_bind();
        core::logLine(core::LogLevel::Info, "HTTP listener exited");
        listenerExited = true;
    }

    void stopAndJoin() {
        std::lock_guard lock(lifecycleMutex);
        // start returned only once the accept loop ran, so this cannot come
        // too early for the library, which ignores a stop before its loop.
        server.stop();
        if (listenerThread.joinable()) {
            listenerThread.join();
        }
    }
};

HttpServer::HttpServer(core::VelkEngine* engine, core::infra::java::ZezizUrBridge* bridge,
                       signing::SigningSession* signingSession, JobStore* jobStore, IFilePicker* filePicker,
                       ui::UiConfirmer* confirmer, ISenderPicker* senderPicker, int port, ServerClocks clocks)
    : impl_(std::make_unique<Impl>(engine, bridge, signingSession, jobStore, filePicker, confirmer,
                                   senderPicker, port, std::move(clocks), [this] { stop(); })) {}

HttpServer::~HttpServer() {
    stop();
    std::thread helper;
    {
        std::lock_guard lock(impl_->helperMutex);
        helper = std::move(impl_->stopHelper);
    }
    if (helper.joinable()) {
        helper.join();
    }
}

void HttpServer::setOnNeedsSettings(std::function<void()> callback) {
    impl_->context.setOnNeedsSettings(std::move(callback));
}

bool HttpServer::start() {
    std::lock_guard lock(impl_->lifecycleMutex);
    if (impl_->started || impl_->stopRequested) {
        return false;
    }
    impl_->started = true;
    impl_->context.markStarted();
    impl_->configureServer();

    const int bound = impl_->bind();
    if (bound < 0) {
        core::logLine(core::LogLevel::Error,
                      "HTTP cannot listen on 127.0.0.1:" + std::to_string(impl_->requestedPort) +
                          " (port in use or binding refused)");
        return false;
    }
    impl_->boundPort = bound;
    impl_->listenerThread = std::thread([impl = impl_.get()] { impl->listen(); });
    // The library has no signal for this; the wait is a few instructions long.
    while (!impl_->server.is_running() && !impl_->listenerExited) {
        std::this_thread::yield();
    }
    return true;
}

void HttpServer::stop() {
    impl_->stopRequested = true;
    impl_->context.requestStop();
    if (servingServer == impl_.get()) {
        // Joining the listener from here would wait for this very request.
        std::lock_guard lock(impl_->helperMutex);
        if (!impl_->stopHelper.joinable()) {
            impl_->stopHelper = std::thread([impl = impl_.get()] { impl->stopAndJoin(); });
        }
        return;
    }
    impl_->stopAndJoin();
}

int HttpServer::port() const {
    const int bound = impl_->boundPort.load();
    return bound != 0 ? bound : impl_->requestedPort;
}

}  // namespace velk::server
