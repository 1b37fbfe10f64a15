#pragma once

#include <functional>
#include <memory>

#include "server/ServerClocks.h"

namespace velk::core {
class VelkEngine;
}  // namespace velk::core

namespace velk::core::infra::java {
class ZezizUrBridge;
}  // namespace velk::core::infra::java

namespace velk::signing {
class SigningSession;
}  // namespace velk::signing

namespace velk::ui {
class UiConfirmer;
}  // namespace velk::ui

namespace velk::server {

class IFilePicker;
class JobStore;
class ISenderPicker;

// The agent's local API: HTTP/1.1 on 127.0.0.1 for the web application in the
// user's browser. Every answer carries the CORS headers, every preflight is
// answered, every request but the health probe is written to the log, and an
// exception escaping a route becomes a JSON 500 answer. Request bodies,
// chunked ones too, are limited to 16 MiB; files travel by path. Idle
// kept-open connections are few workers of a large pool and close after a
// second, so they hold up neither other callers nor the stop.
//
// Owns none of the objects it is given. The pickers may be null: without a
// sender picker runs go on unconfirmed, without a file picker the pick routes
// answer the empty path. Without a bridge the validation reports that it
// cannot run. The user sees one dialog of the local API at a time: a request
// that needs one while another is open is refused at once, never queued.
// Calls into the GUI thread give up with the cancelled answer, closing their
// dialog, once the server is stopping or the user has not answered within
// the time limit (ServerClocks).
class HttpServer {
public:
    static constexpr std::size_t kMaxBodyBytes = 16 * 1024 * 1024;

    // Port 0 lets the system choose (see port()). Nothing listens yet.
    HttpServer(core::VelkEngine* engine, core::infra::java::ZezizUrBridge* bridge,
               signing::SigningSession* signingSession, JobStore* jobStore, IFilePicker* filePicker,
               ui::UiConfirmer* confirmer, ISenderPicker* senderPicker, int port, ServerClocks clocks = {});
    // Stops the server first.
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Asks the desktop program to show its settings window; the callback must
    // only queue that work and return.
    void setOnNeedsSettings(std::function<void()> callback);

    // Binds, then returns once the accept loop runs. False, with an ERROR
    // line, when the port cannot be bound (taken by another program); false
    // when called a second time. A stopped server is not started again.
    bool start();

    // Stops listening, ends the waits for dialogs and joins the listener once
    // the requests in progress are answered. Idempotent and safe from any
    // thread; from one of the server's own threads (a route) the joining is
    // left to a helper thread the server owns and joins on destruction.
    void stop();

    // The port being listened on once start succeeded; else the one given.
    int port() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velk::server
