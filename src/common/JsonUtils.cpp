#include "common/JsonUtils.h"

namespace velk::core {

std::string dumpCompact(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::strict);
}

bool exceedsJsonDepth(std::string_view text, std::size_t maxDepth) {
    std::size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        switch (c) {
            case '"':
                inString = true;
                break;
            case '[':
            case '{':
                if (++depth > maxDepth) {
                    return true;
                }
                break;
            case ']':
            case '}':
                if (depth > 0) {
                    --depth;
                }
                break;
            default:
                break;
        }
    }
    return false;
}

json parseExternalJson(std::string_view text) {
    if (exceedsJsonDepth(text)) {
        throw json::parse_error::create(
            101, 0, "syntax error: arrays and objects nested deeper than " + std::to_string(kMaxJsonDepth),
            nullptr);
    }
    return json::parse(text.begin(), text.end());
}

std::optional<json> tryParseExternalJson(std::string_view text, std::string* error) {
    try {
        return parseExternalJson(text);
    } catch (const json::exception& e) {
        if (error != nullptr) {
            *error = e.what();
        }
        return std::nullopt;
    }
}

}  // namespace velk::core
