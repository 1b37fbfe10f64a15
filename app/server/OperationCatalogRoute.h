#pragma once

#include <mutex>
#include <string>

#include <httplib.h>

namespace velk::server {

class RouteContext;

// GET /api/operations: every registered operation with what the web
// application needs to build its form. The registry does not change after
// start-up, so the answer is built on the first call and sent as it is ever
// after.
class OperationCatalogRoute {
public:
    explicit OperationCatalogRoute(RouteContext& context) : context_(context) {}

    void handle(const httplib::Request& req, httplib::Response& res) const;

private:
    void build() const;

    RouteContext& context_;
    mutable std::once_flag built_;
    mutable std::string body_;
    mutable std::string contentType_;
};

}  // namespace velk::server
