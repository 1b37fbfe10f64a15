#include "infrastructure/portal/PlsPageScan.h"

#include <array>

namespace velk::core::infra::portal {

namespace {

constexpr bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

constexpr char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether the lower-case ASCII word stands at pos, in any case.
bool wordAt(std::string_view text, std::size_t pos, std::string_view word) {
    if (pos + word.size() > text.size()) {
        return false;
    }
    for (std::size_t k = 0; k < word.size(); ++k) {
        if (lowerAscii(text[pos + k]) != word[k]) {
            return false;
        }
    }
    return true;
}

std::size_t skipSpaces(std::string_view text, std::size_t pos) {
    while (pos < text.size() && isSpace(text[pos])) {
        ++pos;
    }
    return pos;
}

// ["']?(\d+) at pos: the digits, or "" when there are none. Giving the quote
// back cannot help, since a quote is no digit.
std::string quotedDigits(std::string_view text, std::size_t pos) {
    if (pos < text.size() && (text[pos] == '"' || text[pos] == '\'')) {
        ++pos;
    }
    const std::size_t start = pos;
    while (pos < text.size() && isDigit(text[pos])) {
        ++pos;
    }
    return std::string(text.substr(start, pos - start));
}

}  // namespace

std::string replyPid(std::string_view page) {
    constexpr std::string_view kKey = "pid";
    for (std::size_t i = 0; i + kKey.size() < page.size(); ++i) {
        const char separator = page[i + kKey.size()];
        if (wordAt(page, i, kKey) && (separator == '=' || separator == ':')) {
            std::string digits = quotedDigits(page, skipSpaces(page, i + kKey.size() + 1));
            if (!digits.empty()) {
                return digits;
            }
        }
    }
    return {};
}

std::string rowDocumentId(std::string_view rowHtml) {
    static constexpr std::array<std::string_view, 2> kKeys = {"pid", "ipdoc_id"};
    for (std::size_t i = 0; i < rowHtml.size(); ++i) {
        for (std::string_view key : kKeys) {
            if (!wordAt(rowHtml, i, key)) {
                continue;
            }
            const std::size_t equals = skipSpaces(rowHtml, i + key.size());
            if (equals < rowHtml.size() && rowHtml[equals] == '=') {
                std::string digits = quotedDigits(rowHtml, skipSpaces(rowHtml, equals + 1));
                if (!digits.empty()) {
                    return digits;
                }
            }
        }
    }
    return {};
}

}  // namespace velk::core::infra::portal
