#pragma once

#include <string>
#include <string_view>

namespace velk::core::infra::portal {

// Document ids on the portal's PLS pages, found by hand-written scanners:
// the pages can be large and std::regex recurses per character. ASCII case
// is ignored; white space is the C locale's; the first match in the text wins.

// The digits of the first pid[=:]\s*["']?(\d+): the id an upload reply names.
std::string replyPid(std::string_view page);

// The digits of the first (?:pid|ipdoc_id)\s*=\s*["']?(\d+): the id a
// listing row links to.
std::string rowDocumentId(std::string_view rowHtml);

}  // namespace velk::core::infra::portal
