#include "server/ApiAnswers.h"

namespace velk::server {

namespace {

constexpr const char* kJsonType = "application/json; charset=utf-8";

}  // namespace

void sendJson(httplib::Response& res, int status, const core::json& value) {
    std::string body = core::dumpCompact(value);
    res.status = status;
    res.set_content(body, kJsonType);
}

void sendError(httplib::Response& res, int status, const std::string& message) {
    const core::json value = {{"error", message}};
    res.status = status;
    res.set_content(value.dump(-1, ' ', false, core::json::error_handler_t::replace), kJsonType);
}

core::json parseJsonBody(const httplib::Request& req) {
    core::json value = core::json::parse(req.body, nullptr, /*allow_exceptions=*/false);
    return value.is_discarded() ? core::json::object() : value;
}

std::string textField(const core::json& body, const char* name) {
    return body.value(name, std::string());
}

}  // namespace velk::server
