#pragma once

#include <httplib.h>

namespace velk::server {

class RouteContext;

// GET /api/operations: every registered operation with what the web
// application needs to build its form.
class OperationCatalogRoute {
public:
    explicit OperationCatalogRoute(RouteContext& context) : context_(context) {}

    void handle(const httplib::Request& req, httplib::Response& res) const;

private:
    RouteContext& context_;
};

}  // namespace velk::server
