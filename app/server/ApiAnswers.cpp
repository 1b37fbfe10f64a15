#include "server/ApiAnswers.h"

#include <optional>
#include <utility>

namespace velk::server {

namespace {

constexpr const char* kJsonType = "application/json; charset=utf-8";

}  // namespace

void sendJson(httplib::Response& res, int status, const core::json& value) {
    std::string body = core::dumpCompact(value);
    res.status = status;
    res.set_content(body, kJsonType);
}

void sendCompactJson(httplib::Response& res, int status, const std::string& text) {
    res.status = status;
    res.set_content(text, kJsonType);
}

void sendError(httplib::Response& res, int status, const std::string& message) {
    const core::json value = {{"error", message}};
    res.status = status;
    res.set_content(value.dump(-1, ' ', false, core::json::error_handler_t::replace), kJsonType);
}

core::json parseJsonBody(const httplib::Request& req) {
    std::optional<core::json> value = core::tryParseExternalJson(req.body);
    if (!value) {
        return core::json::object();
    }
    // Moved, never copied: copying a JSON value recurses once per level.
    return std::move(*value);
}

std::string textField(const core::json& body, const char* name) {
    return body.value(name, std::string());
}

}  // namespace velk::server
