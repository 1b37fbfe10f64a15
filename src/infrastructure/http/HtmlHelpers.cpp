// GCC 12 reports a false "may be used uninitialized" inside libstdc++'s
// regex compiler when building with sanitizers; the warning belongs to the
// library headers, so it is silenced while they are read.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <array>
#include <functional>
#include <regex>
#include <utility>
#pragma GCC diagnostic pop

#include "infrastructure/http/HtmlHelpers.h"

#include "common/TextUtils.h"

namespace velk::core::infra::http {

// Pages are scanned by hand: std::regex recurses per character and overflows
// the stack on rows of some tens of kilobytes.
namespace {

constexpr bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

constexpr char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Position of the first case-insensitive occurrence of an ASCII lower-case
// needle at or after from, or npos.
std::size_t findNoCase(std::string_view text, std::string_view needle, std::size_t from) {
    if (needle.size() > text.size()) {
        return std::string_view::npos;
    }
    for (std::size_t i = from; i + needle.size() <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < needle.size() && lower(text[i + k]) == needle[k]) {
            ++k;
        }
        if (k == needle.size()) {
            return i;
        }
    }
    return std::string_view::npos;
}

// The elements "<name ...>inner</name>" whose opening tag passes accept (given
// the text between "<name" and the tag's first '>'); returns each inner part.
template <class Accept>
std::vector<std::string> scanElements(std::string_view html, std::string_view open, std::string_view close,
                                      Accept accept) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while ((pos = findNoCase(html, open, pos)) != std::string_view::npos) {
        const std::size_t attrsStart = pos + open.size();
        const std::size_t tagEnd = html.find('>', attrsStart);
        if (tagEnd == std::string_view::npos) {
            break;  // no later candidate can have a '>' either
        }
        if (!accept(html.substr(attrsStart, tagEnd - attrsStart))) {
            ++pos;
            continue;
        }
        const std::size_t innerStart = tagEnd + 1;
        const std::size_t closePos = findNoCase(html, close, innerStart);
        if (closePos == std::string_view::npos) {
            break;  // nor a closing tag
        }
        out.emplace_back(html.substr(innerStart, closePos - innerStart));
        pos = closePos + close.size();
    }
    return out;
}

// Whether the element name at pos ends there: "<script>" and "<script src>"
// open a script, "<scripts>" does not.
bool endsName(std::string_view html, std::size_t pos) {
    return pos >= html.size() || isSpace(html[pos]) || html[pos] == '>' || html[pos] == '/';
}

// The page without comments and without what script and style elements hold;
// each dropped piece leaves a tag's blank behind.
std::string withoutHiddenParts(std::string_view html) {
    std::string out;
    out.reserve(html.size());
    std::size_t pos = 0;
    while (pos < html.size()) {
        const std::size_t open = html.find('<', pos);
        if (open == std::string_view::npos) {
            out.append(html.substr(pos));
            break;
        }
        out.append(html.substr(pos, open - pos));
        std::size_t resume = std::string_view::npos;
        bool hidden = false;
        if (html.substr(open, 4) == "<!--") {
            const std::size_t end = html.find("-->", open + 4);
            resume = end == std::string_view::npos ? end : end + 3;
            hidden = true;
        } else {
            for (std::string_view name : {std::string_view("script"), std::string_view("style")}) {
                if (findNoCase(html.substr(open + 1, name.size()), name, 0) != 0 ||
                    !endsName(html, open + 1 + name.size())) {
                    continue;
                }
                const std::string closing = "</" + std::string(name);
                std::size_t end = open + 1 + name.size();
                while ((end = findNoCase(html, closing, end)) != std::string_view::npos &&
                       !endsName(html, end + closing.size())) {
                    end += closing.size();
                }
                const std::size_t tagEnd = end == std::string_view::npos ? end : html.find('>', end);
                resume = tagEnd == std::string_view::npos ? tagEnd : tagEnd + 1;
                hidden = true;
                break;
            }
        }
        if (!hidden) {
            out.push_back('<');
            pos = open + 1;
            continue;
        }
        out.push_back(' ');
        if (resume == std::string_view::npos) {
            break;
        }
        pos = resume;
    }
    return out;
}

void replaceAll(std::string& text, std::string_view entity, std::string_view replacement) {
    std::size_t pos = 0;
    while ((pos = text.find(entity, pos)) != std::string::npos) {
        text.replace(pos, entity.size(), replacement);
        pos += replacement.size();
    }
}

}  // namespace

std::string bulgarianMonthName(int month) {
    static constexpr std::array<const char*, 12> kNames = {
        "Януари", "Февруари", "Март",      "Април",    "Май",     "Юни",
        "Юли",    "Август",   "Септември", "Октомври", "Ноември", "Декември",
    };
    if (month < 1 || month > 12) {
        return {};
    }
    return kNames[static_cast<std::size_t>(month - 1)];
}

std::string decodeHtmlEntities(std::string text) {
    // &amp; comes second, so "&amp;nbsp;" stays "&nbsp;" while "&amp;lt;"
    // becomes "<".
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kEntities = {{
        {"&nbsp;", " "},
        {"&amp;", "&"},
        {"&lt;", "<"},
        {"&gt;", ">"},
        {"&quot;", "\""},
        {"&apos;", "'"},
    }};
    for (const auto& [entity, replacement] : kEntities) {
        replaceAll(text, entity, replacement);
    }
    return text;
}

std::vector<std::string> htmlTableRows(std::string_view html) {
    // "<tr", at least one white-space character, and onmouseover somewhere
    // after it inside the opening tag.
    return scanElements(html, "<tr", "</tr>", [](std::string_view attrs) {
        return !attrs.empty() && isSpace(attrs.front()) &&
               findNoCase(attrs, "onmouseover", 1) != std::string_view::npos;
    });
}

std::vector<std::string> htmlTableCells(std::string_view row) {
    return scanElements(row, "<td", "</td>", [](std::string_view) { return true; });
}

std::string regexFirstCapture(const std::string& text, const std::string& pattern) {
    try {
        const std::regex re(pattern, std::regex::ECMAScript | std::regex::icase);
        std::smatch match;
        if (!std::regex_search(text, match, re) || re.mark_count() == 0 || !match[1].matched) {
            return {};
        }
        return match[1].str();
    } catch (const std::regex_error&) {
        return {};
    }
}

std::string htmlToText(std::string_view html) {
    if (html.empty()) {
        return {};
    }
    // A tag is '<', at least one character other than '>', and the next '>'.
    std::string stripped;
    stripped.reserve(html.size());
    std::size_t pos = 0;
    while (pos < html.size()) {
        const std::size_t open = html.find('<', pos);
        if (open == std::string_view::npos) {
            stripped.append(html.substr(pos));
            break;
        }
        stripped.append(html.substr(pos, open - pos));
        const std::size_t close = html.find('>', open + 1);
        if (close == std::string_view::npos) {
            stripped.append(html.substr(open));
            break;
        }
        if (close == open + 1) {
            stripped.push_back('<');
            pos = open + 1;
            continue;
        }
        stripped.push_back(' ');
        pos = close + 1;
    }

    const std::string decoded = decodeHtmlEntities(std::move(stripped));
    std::string collapsed;
    collapsed.reserve(decoded.size());
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        if (!isSpace(decoded[i])) {
            collapsed.push_back(decoded[i]);
            continue;
        }
        collapsed.push_back(' ');
        while (i + 1 < decoded.size() && isSpace(decoded[i + 1])) {
            ++i;
        }
    }
    return trim(collapsed);
}

std::string htmlWithoutHiddenParts(std::string_view html) {
    return withoutHiddenParts(html);
}

std::string htmlVisibleText(std::string_view html) {
    return htmlToText(withoutHiddenParts(html));
}

}  // namespace velk::core::infra::http
