#include "fakes/agency/FormBody.h"

namespace velk::test {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

std::string percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out.push_back(' ');
        } else if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::vector<FormBodyField> parseFormBody(std::string_view body) {
    std::vector<FormBodyField> fields;
    while (!body.empty()) {
        const std::size_t end = body.find('&');
        const std::string_view part = body.substr(0, end);
        const std::size_t eq = part.find('=');
        if (eq == std::string_view::npos) {
            fields.push_back({std::string(part), ""});
        } else {
            fields.push_back({std::string(part.substr(0, eq)), percentDecode(part.substr(eq + 1))});
        }
        body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
    }
    return fields;
}

}  // namespace velk::test
