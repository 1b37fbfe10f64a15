#include "fakes/agency/CloudRoutes.h"

#include <utility>

#include "common/AgencyEndpoints.h"
#include "common/AgentVersion.h"
#include "common/JsonUtils.h"

namespace velk::test {

namespace {

Reply notFoundPage() {
    Reply reply = Reply::text(
        404, "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1></body></html>");
    reply.contentType = "text/html; charset=utf-8";
    return reply;
}

}  // namespace

CloudRoutes::CloudRoutes() : state_(std::make_shared<State>()) {
    restoreDefaults();
}

void CloudRoutes::restoreDefaults() {
    const std::lock_guard lock(state_->mutex);
    state_->queued.clear();
    state_->downloads.clear();
    state_->standing = Reply::json(
        200,
        versionJson(core::versionString(), downloadUrl("vezorodar_" + core::versionString() + "_amd64.deb")));
}

std::string CloudRoutes::versionJson(const std::string& latestVersion, const std::string& linuxUrl,
                                     const std::string& windowsUrl) {
    core::json reply = core::json::object();
    if (!latestVersion.empty()) {
        reply["latestVersion"] = latestVersion;
        reply["minVersion"] = "0.1.0";
    }
    if (!linuxUrl.empty()) {
        reply["linuxUrl"] = linuxUrl;
    }
    if (!windowsUrl.empty()) {
        reply["windowsUrl"] = windowsUrl;
    }
    return core::dumpCompact(reply);
}

std::string CloudRoutes::downloadUrl(const std::string& name) {
    return std::string(core::AgencyEndpoints::kCloudBaseUrl) + kDownloadPrefix + name;
}

void CloudRoutes::setVersionReply(Reply reply) {
    const std::lock_guard lock(state_->mutex);
    state_->standing = std::move(reply);
}

void CloudRoutes::queueVersionReplies(std::vector<Reply> replies) {
    const std::lock_guard lock(state_->mutex);
    state_->queued.insert(state_->queued.end(), std::make_move_iterator(replies.begin()),
                          std::make_move_iterator(replies.end()));
}

void CloudRoutes::setDownload(const std::string& name, std::string bytes) {
    const std::lock_guard lock(state_->mutex);
    state_->downloads[name] = std::move(bytes);
}

void CloudRoutes::install(TestServer& cloud) {
    restoreDefaults();
    const std::shared_ptr<State> state = state_;
    cloud.on("GET", kVersionPath, [state](const RecordedRequest&) {
        const std::lock_guard lock(state->mutex);
        if (state->queued.empty()) {
            return state->standing;
        }
        Reply next = std::move(state->queued.front());
        state->queued.erase(state->queued.begin());
        return next;
    });
    cloud.onPrefix("GET", kDownloadPrefix, [state](const RecordedRequest& r) {
        const std::string name = r.path.substr(std::string(kDownloadPrefix).size());
        const std::lock_guard lock(state->mutex);
        const auto it = state->downloads.find(name);
        if (it == state->downloads.end()) {
            return notFoundPage();
        }
        Reply reply = Reply::text(200, it->second);
        reply.contentType = "application/vnd.debian.binary-package";
        return reply;
    });
}

}  // namespace velk::test
