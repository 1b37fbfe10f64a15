#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "infrastructure/http/HttpResponse.h"

namespace velk::core::infra::http {

// Reading a reply as text for the agent's results, which are UTF-8 JSON.

// The value of the header with this name in any ASCII case: servers send
// "Content-type" as often as "Content-Type".
std::optional<std::string> findHeader(const HttpHeaders& headers, std::string_view name);

// The body as UTF-8, by the one rule for the agency's pages and receipts:
// converted from windows-1251 when the content type names that charset, or
// when it names no charset and the bytes are not UTF-8 (the agency's pages
// are windows-1251); otherwise kept, with every byte sequence that is not
// UTF-8 replaced by U+FFFD. Never fails.
std::string bodyAsUtf8(std::string_view body, std::string_view contentType);

// The content type of a body made UTF-8 by bodyAsUtf8: the media type with
// "; charset=utf-8" ("text/html" when the content type names none). The
// media type comes from a header, so it is made valid UTF-8 too.
std::string utf8ContentType(std::string_view contentType);

}  // namespace velk::core::infra::http
