#pragma once

#include <string>

#include <httplib.h>

#include "common/JsonUtils.h"

namespace velk::server {

// The local API's answers: compact JSON, keys in ascending byte order, raw
// UTF-8, "application/json; charset=utf-8".

// Throws the JSON library's type error for text that is not valid UTF-8; the
// response is left untouched then.
void sendJson(httplib::Response& res, int status, const core::json& value);

// Text that dumpCompact wrote, sent as it is: the bytes sendJson would send
// for the value it holds, without reading it back first.
void sendCompactJson(httplib::Response& res, int status, const std::string& text);

// {"error": message}. Error texts may quote what the caller sent, so bytes
// that are not UTF-8 are replaced (U+FFFD) rather than failing the answer.
void sendError(httplib::Response& res, int status, const std::string& message);

// The body as JSON; an empty object when it does not parse (also when it is
// empty or nests deeper than the bounded reader allows). A body that parses to
// something else than an object comes back as it is.
core::json parseJsonBody(const httplib::Request& req);

// The body member as text, empty when absent. Throws the JSON library's type
// error when the body is no object or the member is no text (null included),
// which the server answers with its 500.
std::string textField(const core::json& body, const char* name);

}  // namespace velk::server
