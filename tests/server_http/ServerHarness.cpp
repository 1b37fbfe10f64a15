#include "server_http/ServerHarness.h"

#include <memory>
#include <stdexcept>

#include "support/PollUntil.h"

namespace velk::test {

namespace {

Answer toAnswer(const httplib::Result& result) {
    Answer answer;
    if (result) {
        answer.status = result->status;
        answer.body = result->body;
        answer.headers = result->headers;
    }
    return answer;
}

// The library's 5 s read limit would fail a request that a busy machine is
// merely slow to answer; only a hang may fail a test.
std::unique_ptr<httplib::Client> client(int port) {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", port);
    client->set_connection_timeout(kPollDeadline);
    client->set_read_timeout(kPollDeadline);
    client->set_write_timeout(kPollDeadline);
    return client;
}

}  // namespace

std::string Answer::error() const {
    const core::json value = core::json::parse(body, nullptr, false);
    return value.is_object() && value.contains("error") && value["error"].is_string()
               ? value["error"].get<std::string>()
               : "<no error in: " + body + ">";
}

std::string Answer::header(const std::string& name) const {
    const auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

ServerHarness::ServerHarness(Options options) {
    auto store = std::make_unique<InMemorySettings>();
    settings_ = store.get();
    engine_ = std::make_unique<core::VelkEngine>(std::move(store));
    if (options.initialiseEngine) {
        engine_->initialise();
    }
    server::ServerClocks clocks{[this] { return wallSeconds.load(); }, [this] { return steadyNs.load(); },
                                options.dialogTimeLimit, std::move(options.dialogTimeUp)};
    server_ = std::make_unique<server::HttpServer>(engine_.get(), options.bridge, nullptr, &jobs_,
                                                   options.filePicker, nullptr, options.senderPicker, 0,
                                                   std::move(clocks));
    server_->setOnNeedsSettings([this] {
        ++needsSettingsCalls;
        if (needsSettingsAction) {
            needsSettingsAction();
        }
    });
    if (!server_->start()) {
        throw std::runtime_error("the server did not start");
    }
}

ServerHarness::~ServerHarness() {
    server_->stop();
    server_.reset();
    engine_->shutdown();
}

void ServerHarness::addSenders(const std::vector<std::string>& ids, const std::string& activeId) {
    for (const auto& id : ids) {
        settings_->upsertSender(testSender(id));
    }
    settings_->setActiveSender(activeId);
}

Answer ServerHarness::get(const std::string& path, const httplib::Headers& headers) {
    return toAnswer(client(port())->Get(path.c_str(), headers));
}

Answer ServerHarness::post(const std::string& path, const std::string& body,
                           const httplib::Headers& headers) {
    return toAnswer(client(port())->Post(path.c_str(), headers, body, "application/json"));
}

Answer ServerHarness::options(const std::string& path) {
    return toAnswer(client(port())->Options(path.c_str()));
}

Answer ServerHarness::del(const std::string& path) {
    return toAnswer(client(port())->Delete(path.c_str()));
}

}  // namespace velk::test
