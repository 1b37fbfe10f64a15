#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace velk::core::infra::http {
class HttpClient;
}

namespace velk::agent {

// The cloud's answer to "which agent version is the latest", as read.
struct AgentVersionInfo {
    bool ok = false;  // the reply was usable: it named a latest version
    std::string latestVersion;
    std::string minVersion;
    std::string windowsUrl;
    std::string macUrl;
    // The Linux package's download address; never taken from windowsUrl.
    std::string linuxUrl;
};

// The download address of this platform's build in a version reply.
const std::string& platformDownloadUrl(const AgentVersionInfo& info);

// The maker's cloud service, reached with its own HTTP client (10 s limit).
// One thread at a time, but cancel() may come from any thread.
class VelkCloudClient {
public:
    explicit VelkCloudClient(std::string baseUrl);
    ~VelkCloudClient();
    VelkCloudClient(const VelkCloudClient&) = delete;
    VelkCloudClient& operator=(const VelkCloudClient&) = delete;

    static std::unique_ptr<VelkCloudClient> create(std::string baseUrl);

    // GET baseUrl + "/api/v1/agent/version". Every failure gives ok false
    // and one WARN line; nothing throws.
    AgentVersionInfo checkVersion();
    // Ends a running checkVersion at once, and every later one.
    void cancel();

    // The reply body read: "latestVersion", "minVersion", "windowsUrl",
    // "macUrl" and "linuxUrl", each a string or absent. Not an object, not
    // JSON, or a key of another type: nothing, with the JSON library's
    // message in error.
    static bool readVersionReply(std::string_view body, AgentVersionInfo& info, std::string& error);

private:
    std::string baseUrl_;
    std::unique_ptr<core::infra::http::HttpClient> http_;
};

}  // namespace velk::agent
