#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fakes/TestServer.h"

namespace velk::test {

// The maker's cloud (cloud.vezorodar.bg) as the agent's updates meet it:
// - GET /api/v1/agent/version: the queued replies, one per request, then the
//   standing reply (by default the running version, so nothing is newer);
// - GET /downloads/<name>: the bytes set for that name as
//   application/vnd.debian.binary-package, else a 404 HTML page.
// The routes answer every caller.
class CloudRoutes {
public:
    static constexpr const char* kVersionPath = "/api/v1/agent/version";
    static constexpr const char* kDownloadPrefix = "/downloads/";

    CloudRoutes();

    // Installs the routes and puts the replies and downloads back.
    void install(TestServer& cloud);

    // A version reply with these members; an empty text leaves its key out.
    static std::string versionJson(const std::string& latestVersion, const std::string& linuxUrl,
                                   const std::string& windowsUrl = {});
    // "https://cloud.vezorodar.bg/downloads/" + name, as the cloud hands it out.
    static std::string downloadUrl(const std::string& name);

    void setVersionReply(Reply reply);
    void queueVersionReplies(std::vector<Reply> replies);
    // name is the rest of the path as the server reads it: percent-decoded.
    void setDownload(const std::string& name, std::string bytes);

private:
    void restoreDefaults();

    struct State {
        std::mutex mutex;
        Reply standing;
        std::vector<Reply> queued;
        std::map<std::string, std::string> downloads;
    };
    std::shared_ptr<State> state_;
};

}  // namespace velk::test
