#pragma once

#include <string>
#include <string_view>

namespace velk::core::infra::portal {

// How the portal's reply page to a PLS upload reads.
enum class PlsReplyVerdict {
    Accepted,      // names an acceptance and no refusal
    Failed,        // names a refusal or an error, whatever else it says
    Unrecognised,  // names neither
};

// Searches the page's visible text (htmlVisibleText), lowered with
// toLowerCyrillic, for the words of one table: markup such as class="error"
// or an onerror handler says nothing of the filing. Only when the visible
// text holds no word of either table is the page's markup searched, tags and
// attributes included; comments, scripts and style sheets never count, as a
// rule ".error" in a style sheet says nothing of the filing either. The
// refusal words are tried first: "неуспешно" contains "успешно" and
// "не е приет" contains "приет".
PlsReplyVerdict classifyPlsReply(std::string_view page);

// UTF-8 text with A-Z and the basic Cyrillic capitals А-Я (D0 90 - D0 AF)
// lowered; every other character, Ё among them, stays as it is.
std::string toLowerCyrillic(std::string text);

}  // namespace velk::core::infra::portal
