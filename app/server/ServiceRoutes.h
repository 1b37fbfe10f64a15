#pragma once

#include <functional>

#include <httplib.h>

namespace velk::core::infra::java {
class ZezizUrBridge;
}  // namespace velk::core::infra::java

namespace velk::server {

class RouteContext;

// The local API's service routes: the health probe and the information
// record, the shutdown of the API, the file and folder dialogs, the list of
// senders and the validation of a VAT declaration folder.
class ServiceRoutes {
public:
    // bridge may be null (no Java bridge): validation then reports that it
    // cannot run. stopServer stops the server from one of its own threads
    // without waiting for the request that asks.
    ServiceRoutes(RouteContext& context, core::infra::java::ZezizUrBridge* bridge,
                  std::function<void()> stopServer);

    // GET /api/health
    void handleHealth(const httplib::Request& req, httplib::Response& res) const;
    // GET /api/info
    void handleInfo(const httplib::Request& req, httplib::Response& res) const;
    // POST /api/shutdown
    void handleShutdown(const httplib::Request& req, httplib::Response& res) const;
    // POST /api/pick-folder
    void handlePickFolder(const httplib::Request& req, httplib::Response& res) const;
    // POST /api/pick-file
    void handlePickFile(const httplib::Request& req, httplib::Response& res) const;
    // GET /api/senders
    void handleListSenders(const httplib::Request& req, httplib::Response& res) const;
    // POST /api/validate
    void handleValidate(const httplib::Request& req, httplib::Response& res) const;

private:
    RouteContext& context_;
    core::infra::java::ZezizUrBridge* bridge_;
    std::function<void()> stopServer_;
};

}  // namespace velk::server
