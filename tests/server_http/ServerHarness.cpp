#include "server_http/ServerHarness.h"

#include <stdexcept>

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
                                options.dialogTimeLimit};
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
    httplib::Client client("127.0.0.1", port());
    return toAnswer(client.Get(path.c_str(), headers));
}

Answer ServerHarness::post(const std::string& path, const std::string& body,
                           const httplib::Headers& headers) {
    httplib::Client client("127.0.0.1", port());
    return toAnswer(client.Post(path.c_str(), headers, body, "application/json"));
}

Answer ServerHarness::options(const std::string& path) {
    httplib::Client client("127.0.0.1", port());
    return toAnswer(client.Options(path.c_str()));
}

Answer ServerHarness::del(const std::string& path) {
    httplib::Client client("127.0.0.1", port());
    return toAnswer(client.Delete(path.c_str()));
}

}  // namespace velk::test
