#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include <httplib.h>

#include "common/JsonUtils.h"
#include "engine/InMemorySettings.h"
#include "engine/VelkEngine.h"
#include "server/HttpServer.h"
#include "server/JobStore.h"
#include "support/TempDir.h"

namespace velk::test {

// One answer of the server, its body parsed when it is JSON.
struct Answer {
    int status = 0;  // 0: no answer
    std::string body;
    httplib::Headers headers;

    core::json json() const { return core::json::parse(body); }
    std::string error() const;
    std::string header(const std::string& name) const;
};

// The local API in-process on a port of the system's choice, with the real
// engine and registry, an in-memory settings store and test clocks.
class ServerHarness {
public:
    struct Options {
        server::ISenderPicker* senderPicker = nullptr;
        bool initialiseEngine = true;
        server::IFilePicker* filePicker = nullptr;
        core::infra::java::ZezizUrBridge* bridge = nullptr;
        // How long a dialog waits for the user; zero: the server's own limit.
        std::chrono::milliseconds dialogTimeLimit{0};
        // A test's clock for that limit: the dialog's time is up once its
        // token is stopped.
        std::function<std::stop_token()> dialogTimeUp{};
    };

    ServerHarness() : ServerHarness(Options{}) {}
    explicit ServerHarness(Options options);
    ~ServerHarness();

    InMemorySettings& settings() { return *settings_; }
    core::VelkEngine& engine() { return *engine_; }
    server::HttpServer& server() { return *server_; }
    server::JobStore& jobs() { return jobs_; }
    const IsolatedHome& home() const { return home_; }
    int port() const { return server_->port(); }

    // Senders a, b, ... by id, the first one active when asked.
    void addSenders(const std::vector<std::string>& ids, const std::string& activeId = "");

    Answer get(const std::string& path, const httplib::Headers& headers = {});
    Answer post(const std::string& path, const std::string& body, const httplib::Headers& headers = {});
    Answer options(const std::string& path);
    Answer del(const std::string& path);

    // Wall-clock seconds and monotonic nanoseconds the server reads.
    std::atomic<std::int64_t> wallSeconds{1'750'000'000};
    std::atomic<std::int64_t> steadyNs{1'000'000'000};
    std::atomic<int> needsSettingsCalls{0};
    std::function<void()> needsSettingsAction;

private:
    IsolatedHome home_;
    InMemorySettings* settings_ = nullptr;
    std::unique_ptr<core::VelkEngine> engine_;
    server::JobStore jobs_;
    std::unique_ptr<server::HttpServer> server_;
};

}  // namespace velk::test
