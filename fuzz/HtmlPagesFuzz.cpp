// The agency's HTML pages as the agent reads them: the page decoded by its
// charset, the table row and cell scanners, the text of a cell and of the
// visible page, the document id scanners of the PLS pages (checked against
// the regular expressions they stand for), the upload reply's verdict, the
// listing's period and the VAT results page's row fields. Nothing throws,
// every text stays valid UTF-8 and no cut grows.

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "common/TextUtils.h"
#include "features/vat/VatMonthdecQuery.h"
#include "infrastructure/http/HtmlHelpers.h"
#include "infrastructure/http/ResponseText.h"
#include "infrastructure/portal/PlsListing.h"
#include "infrastructure/portal/PlsPageScan.h"
#include "infrastructure/portal/PlsReply.h"

namespace {

namespace http = velk::core::infra::http;
namespace portal = velk::core::infra::portal;
namespace vat = velk::core::features::vat;
using velk::core::isValidUtf8;

// The regular expressions stand for the scanners only on short texts: std::regex recurses per character.
constexpr std::size_t kRegexOracleBytes = 2048;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool allDigits(std::string_view text) {
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

bool containsNoCase(std::string_view text, std::string_view lowerNeedle) {
    return velk::core::asciiLower(text).find(lowerNeedle) != std::string::npos;
}

// Text as htmlToText leaves it: valid when the page was, no blank at either end, no two blanks together.
void checkShownText(const std::string& text, std::string_view from) {
    VELK_FUZZ_CHECK(isValidUtf8(text));
    VELK_FUZZ_CHECK(text.size() <= from.size());
    VELK_FUZZ_CHECK(text.empty() || (!isSpace(text.front()) && !isSpace(text.back())));
    for (std::size_t i = 0; i < text.size(); ++i) {
        VELK_FUZZ_CHECK(text[i] == ' ' || !isSpace(text[i]));
        VELK_FUZZ_CHECK(i == 0 || text[i] != ' ' || text[i - 1] != ' ');
    }
}

std::string firstCapture(std::string_view text, const std::regex& re) {
    std::match_results<std::string_view::const_iterator> match;
    if (!std::regex_search(text.begin(), text.end(), match, re)) {
        return {};
    }
    return match[1].str();
}

// Read like strtol: nothing for no digits or a value outside 32 bits.
std::optional<std::int32_t> strtolInt32(std::string_view text) {
    const std::string copy(text);
    std::size_t i = 0;
    while (i < copy.size() && isSpace(copy[i])) {
        ++i;
    }
    if (i < copy.size() && (copy[i] == '+' || copy[i] == '-')) {
        ++i;
    }
    if (i >= copy.size() || copy[i] < '0' || copy[i] > '9') {
        return std::nullopt;
    }
    errno = 0;
    const long long value = std::strtoll(copy.c_str(), nullptr, 10);
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

void checkPeriod(std::string_view text) {
    const portal::PlsPeriod period = portal::parsePlsPeriod(text);
    VELK_FUZZ_CHECK(period.month.has_value() == period.year.has_value());
    const std::size_t separator = text.find_first_of("./-");
    if (separator == std::string_view::npos) {
        VELK_FUZZ_CHECK(!period.month);
        return;
    }
    const std::optional<std::int32_t> month = strtolInt32(text.substr(0, separator));
    const std::optional<std::int32_t> year = strtolInt32(text.substr(separator + 1));
    VELK_FUZZ_CHECK(period.month.has_value() == (month && year));
    VELK_FUZZ_CHECK(!period.month || (*period.month == *month && *period.year == *year));
}

void checkRow(const std::string& row) {
    static const std::regex kRowId("(?:pid|ipdoc_id)\\s*=\\s*[\"']?(\\d+)", std::regex::icase);
    VELK_FUZZ_CHECK(isValidUtf8(row));
    VELK_FUZZ_CHECK(!containsNoCase(row, "</tr>"));
    const std::string id = portal::rowDocumentId(row);
    VELK_FUZZ_CHECK(allDigits(id));
    if (row.size() <= kRegexOracleBytes) {
        VELK_FUZZ_CHECK(id == firstCapture(row, kRowId));
    }

    const std::vector<std::string> cells = http::htmlTableCells(row);
    for (const std::string& cell : cells) {
        VELK_FUZZ_CHECK(isValidUtf8(cell));
        VELK_FUZZ_CHECK(!containsNoCase(cell, "</td>"));
        const std::string text = http::htmlToText(cell);
        checkShownText(text, cell);
        checkPeriod(text);

        // The VAT results page's link cell.
        const std::string docId = vat::parseDocId(cell);
        VELK_FUZZ_CHECK(docId.size() <= 20 && allDigits(docId));
        VELK_FUZZ_CHECK(docId.empty() || containsNoCase(cell, "ipdoc_id=" + docId));
        for (const std::int32_t endpoint : vat::parseEndpointIds(cell)) {
            VELK_FUZZ_CHECK(endpoint >= 1 && endpoint <= 4);
        }
    }
}

void checkReply(const std::string& page) {
    static const std::regex kPid("pid[=:]\\s*[\"']?(\\d+)", std::regex::icase);
    const std::string pid = portal::replyPid(page);
    VELK_FUZZ_CHECK(allDigits(pid));
    if (page.size() <= kRegexOracleBytes) {
        VELK_FUZZ_CHECK(pid == firstCapture(page, kPid));
    }

    // Lowering keeps the length and the encoding, and lowers once for all.
    const std::string lowered = portal::toLowerCyrillic(page);
    VELK_FUZZ_CHECK(lowered.size() == page.size());
    VELK_FUZZ_CHECK(isValidUtf8(lowered));
    VELK_FUZZ_CHECK(portal::toLowerCyrillic(lowered) == lowered);

    // Every word of either table holds an acceptance word or is one no markup
    // can make: a page without any is never classified, and an accepted page
    // has an acceptance word of its own.
    static const char* const kAcceptance[] = {"успешно", "приет", "success"};
    static const char* const kRefusal[] = {"отхвърлен", "грешка", "error"};
    bool anyAcceptance = false;
    bool anyWord = false;
    for (const char* word : kAcceptance) {
        anyAcceptance = anyAcceptance || lowered.find(word) != std::string::npos;
    }
    for (const char* word : kRefusal) {
        anyWord = anyWord || lowered.find(word) != std::string::npos;
    }
    anyWord = anyWord || anyAcceptance;
    const portal::PlsReplyVerdict verdict = portal::classifyPlsReply(page);
    VELK_FUZZ_CHECK(anyWord || verdict == portal::PlsReplyVerdict::Unrecognised);
    VELK_FUZZ_CHECK(anyAcceptance || verdict != portal::PlsReplyVerdict::Accepted);
    // Comments, scripts and style sheets are no evidence either way.
    VELK_FUZZ_CHECK(portal::classifyPlsReply(http::htmlWithoutHiddenParts(page)) == verdict);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velk::fuzz::InputParts parts(data, size);
    const std::uint8_t choice = parts.byte();

    VELK_FUZZ_NO_THROW({
        static const char* const kContentTypes[] = {"", "text/html", "text/html; charset=windows-1251",
                                                    "text/html;charset=\"UTF-8\""};
        const std::string contentType =
            choice % 5 < 4 ? std::string(kContentTypes[choice % 5]) : std::string(parts.text());
        const std::string_view body = parts.rest();

        const std::string page = http::bodyAsUtf8(body, contentType);
        VELK_FUZZ_CHECK(isValidUtf8(page));
        if ((choice % 5 == 0 || choice % 5 == 3) && isValidUtf8(body)) {
            VELK_FUZZ_CHECK(page == body);
        }
        const std::string utf8Type = http::utf8ContentType(contentType);
        VELK_FUZZ_CHECK(isValidUtf8(utf8Type));

        // The listing and the VAT results page: rows, cells and their texts.
        for (const std::string& row : http::htmlTableRows(page)) {
            checkRow(row);
        }
        checkShownText(http::htmlToText(page), page);
        checkShownText(http::htmlVisibleText(page), page);
        const std::string decoded = http::decodeHtmlEntities(page);
        VELK_FUZZ_CHECK(decoded.size() <= page.size() && isValidUtf8(decoded));

        // The upload reply.
        checkReply(page);

        // The VAT results page's rows filtered by period keep only rows that name it.
        vat::MonthdecRow row;
        row.docId = "1";
        row.period = http::htmlToText(page.substr(0, 200));
        const std::int32_t month = choice % 14;
        const std::vector<vat::MonthdecRow> kept = vat::filterMonthdecRowsByPeriod({row}, 2024, month);
        VELK_FUZZ_CHECK(kept.empty() || (month >= 1 && month <= 12));
    });
    return 0;
}
