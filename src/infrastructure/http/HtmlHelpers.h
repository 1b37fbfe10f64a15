#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velk::core::infra::http {

// Helpers for the agency's legacy HTML pages. Matching is byte-wise and
// ASCII case-insensitive; white space means blank, tab, line feed, carriage
// return, vertical tab and form feed. Nothing here throws for bad input.

// "Януари" .. "Декември"; "" outside 1..12.
std::string bulgarianMonthName(int month);

// Replaces, in this order, &nbsp; (by a plain blank), &amp;, &lt;, &gt;,
// &quot; and &apos;, one left-to-right pass per entity. No other entity and
// no numeric reference is decoded.
std::string decodeHtmlEntities(std::string text);

// Inner HTML of every <tr ...> whose opening tag has attributes and mentions
// onmouseover, in page order. A row ends at the first following </tr>.
std::vector<std::string> htmlTableRows(std::string_view html);

// Inner HTML of every <td...> cell of a row, unchanged; a cell ends at the
// first following </td>.
std::vector<std::string> htmlTableCells(std::string_view row);

// First capture group of the first case-insensitive match of an ECMAScript
// pattern; "" for no match, no group, or a pattern that does not compile.
std::string regexFirstCapture(const std::string& text, const std::string& pattern);

// Tags become blanks, entities are decoded, white-space runs become one
// blank, and the ends are trimmed.
std::string htmlToText(std::string_view html);

// The page's markup, tags and attributes kept, without comments and without
// what script and style elements hold (an element left open runs to the end
// of the page); each dropped piece leaves one blank.
std::string htmlWithoutHiddenParts(std::string_view html);

// What a browser shows of a page: htmlToText of htmlWithoutHiddenParts.
std::string htmlVisibleText(std::string_view html);

}  // namespace velk::core::infra::http
