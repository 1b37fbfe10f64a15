#include "infrastructure/http/ResponseText.h"

#include <array>

#include "common/TextUtils.h"

namespace velk::core::infra::http {

namespace {

// The charset parameter's value, lower-cased and unquoted; empty when none.
std::string charsetOf(std::string_view contentType) {
    std::size_t pos = 0;
    while ((pos = contentType.find(';', pos)) != std::string_view::npos) {
        ++pos;
        const std::size_t end = contentType.find(';', pos);
        const std::string_view parameter = trimView(contentType.substr(pos, end - pos));
        const std::size_t eq = parameter.find('=');
        if (eq != std::string_view::npos && iequalsAscii(trimView(parameter.substr(0, eq)), "charset")) {
            std::string_view value = trimView(parameter.substr(eq + 1));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
                value = value.substr(1, value.size() - 2);
            }
            return asciiLower(value);
        }
    }
    return {};
}

bool isWindows1251(std::string_view charset) {
    static constexpr std::array<std::string_view, 4> kNames = {"windows-1251", "cp1251", "x-cp1251",
                                                               "cp-1251"};
    for (std::string_view name : kNames) {
        if (charset == name) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<std::string> findHeader(const HttpHeaders& headers, std::string_view name) {
    // The exact spelling first, so the answer does not depend on the map's order.
    if (const auto exact = headers.find(std::string(name)); exact != headers.end()) {
        return exact->second;
    }
    for (const auto& [key, value] : headers) {
        if (iequalsAscii(key, name)) {
            return value;
        }
    }
    return std::nullopt;
}

std::string bodyAsUtf8(std::string_view body, std::string_view contentType) {
    const std::string charset = charsetOf(contentType);
    if (isWindows1251(charset) || (charset.empty() && !isValidUtf8(body))) {
        return cp1251ToUtf8(body);
    }
    return toValidUtf8(body);
}

std::string utf8ContentType(std::string_view contentType) {
    const std::string_view mediaType = trimView(contentType.substr(0, contentType.find(';')));
    return (mediaType.empty() ? std::string("text/html") : toValidUtf8(mediaType)) + "; charset=utf-8";
}

}  // namespace velk::core::infra::http
