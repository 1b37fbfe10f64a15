#include "agent/VelkCloudClient.h"

#include "common/JsonUtils.h"
#include "common/Logger.h"
#include "common/TextUtils.h"
#include "infrastructure/http/HttpClient.h"
#include "infrastructure/portal/PortalHeaders.h"

namespace velk::agent {

namespace {

using core::json;
using core::LogLevel;
using core::logLine;

constexpr const char* kVersionPath = "/api/v1/agent/version";

// A member's string, empty when absent; another type throws type_error.
std::string stringMember(const json& object, const char* key) {
    const auto it = object.find(key);
    return it == object.end() ? std::string() : it->get<std::string>();
}

}  // namespace

const std::string& platformDownloadUrl(const AgentVersionInfo& info) {
#if defined(_WIN32)
    return info.windowsUrl;
#elif defined(__APPLE__)
    return info.macUrl;
#else
    return info.linuxUrl;
#endif
}

VelkCloudClient::VelkCloudClient(std::string baseUrl)
    : baseUrl_(std::move(baseUrl)), http_(core::infra::http::HttpClient::forCloud()) {}

VelkCloudClient::~VelkCloudClient() = default;

std::unique_ptr<VelkCloudClient> VelkCloudClient::create(std::string baseUrl) {
    return std::make_unique<VelkCloudClient>(std::move(baseUrl));
}

void VelkCloudClient::cancel() {
    http_->cancel();
}

bool VelkCloudClient::readVersionReply(std::string_view body, AgentVersionInfo& info, std::string& error) {
    info = AgentVersionInfo{};
    try {
        const json reply = core::parseExternalJson(body);
        if (!reply.is_object()) {
            // The library's own words for the wrong type.
            (void)reply.get<json::object_t>();
        }
        AgentVersionInfo read;
        read.latestVersion = stringMember(reply, "latestVersion");
        read.minVersion = stringMember(reply, "minVersion");
        read.windowsUrl = stringMember(reply, "windowsUrl");
        read.macUrl = stringMember(reply, "macUrl");
        read.linuxUrl = stringMember(reply, "linuxUrl");
        read.ok = !read.latestVersion.empty();
        info = std::move(read);
        return true;
    } catch (const json::exception& e) {
        error = e.what();
        return false;
    }
}

AgentVersionInfo VelkCloudClient::checkVersion() {
    AgentVersionInfo info;
    const auto response = http_->get(baseUrl_ + kVersionPath, core::infra::portal::PortalJsonHeaders);
    if (!response.error.empty()) {
        logLine(LogLevel::Warn,
                "VelkCloudClient::checkVersion: transport error — " + core::loggableText(response.error));
        return info;
    }
    if (response.status < 200 || response.status > 299) {
        logLine(LogLevel::Warn, "VelkCloudClient::checkVersion: HTTP " + std::to_string(response.status));
        return info;
    }
    std::string error;
    if (!readVersionReply(response.body, info, error)) {
        logLine(LogLevel::Warn, "VelkCloudClient::checkVersion: parse error — " + core::loggableText(error));
    }
    return info;
}

}  // namespace velk::agent
