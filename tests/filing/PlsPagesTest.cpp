// The pure pieces of filing: page scanners, the reply classification, line
// ends, periods, identifier types and reply texts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include "features/high_fisc_risk/HighFiscRiskDeclaration.h"
#include "infrastructure/http/ResponseText.h"
#include "infrastructure/portal/DeclarationFile.h"
#include "infrastructure/portal/PlsListing.h"
#include "infrastructure/portal/PlsPageScan.h"
#include "infrastructure/portal/PlsReply.h"
#include "infrastructure/portal/RestResultInquiry.h"
#include "infrastructure/portal/TaxpayerPinType.h"
#include "support/TempDir.h"

namespace velk::core::infra::portal {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

TEST(ReplyPid, FindsTheFirstPidFollowedByDigits) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"(<a href="x.showResult?pid=5001">)", "5001"},
        {"PID: 42", "42"},
        {"pid = 7", ""},  // a blank before the separator does not match
        {"pid=\t'123'", "123"},
        {R"(pid="x" and later pid:"88")", "88"},
        {"ipid=9 rapid=3", "9"},  // no word boundary in the pattern
        {"pid=abc", ""},
        {"", ""},
        {"pid=", ""},
    };
    for (const auto& [page, pid] : cases) {
        EXPECT_EQ(replyPid(page), pid) << page;
    }
}

TEST(RowDocumentId, FindsPidOrIpdocIdWithBlanksAndQuotes) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"(<td><a href="m.showResult?pid=5002">R</a></td>)", "5002"},
        {R"(<td><a href="download?ipdoc_id=555">R</a></td>)", "555"},
        {"<td onclick=\"go(IPDOC_ID = '777')\">", "777"},
        {"<td>pid:5</td>", ""},  // only '=' separates here
        {"<td>pid=x</td><td>ipdoc_id=12</td>", "12"},
        {"<td>nothing</td>", ""},
    };
    for (const auto& [row, id] : cases) {
        EXPECT_EQ(rowDocumentId(row), id) << row;
    }
}

// One table for the whole reading of a reply page.
TEST(ClassifyPlsReply, ReadsTheVisibleTextRefusalsFirstThenTheMarkupWithoutHiddenParts) {
    const std::vector<std::pair<std::string, PlsReplyVerdict>> cases = {
        {"<h3>Файлът е приет успешно.</h3>", PlsReplyVerdict::Accepted},
        {"<h3>ФАЙЛЪТ Е ПРИЕТ</h3>", PlsReplyVerdict::Accepted},
        {"Upload SUCCESS", PlsReplyVerdict::Accepted},
        {"Подаването е неуспешно.", PlsReplyVerdict::Failed},
        {"НЕУСПЕШНО подаване", PlsReplyVerdict::Failed},
        {"Документът не е приет.", PlsReplyVerdict::Failed},
        {"Документите не са приети.", PlsReplyVerdict::Failed},
        {"Статус: неприет", PlsReplyVerdict::Failed},
        {"Файлът е отхвърлен.", PlsReplyVerdict::Failed},
        {"Грешка: успешно само частично", PlsReplyVerdict::Failed},
        // Markup says nothing of the filing: the visible text decides.
        {"Приет успешно.<script>window.onerror = function () {};</script>", PlsReplyVerdict::Accepted},
        {"<div class=\"ERROR\">Файлът е приет.</div>", PlsReplyVerdict::Accepted},
        {"<img src=\"logo.png\" onerror=\"this.remove()\"><style>.error{}</style><p>Приет</p>",
         PlsReplyVerdict::Accepted},
        {"<p class=\"success\">Файлът не е приет.</p>", PlsReplyVerdict::Failed},
        // Without a word in the visible text, the markup decides, but never
        // a comment, a script or a style sheet.
        {"<div class=\"ERROR\">x</div>", PlsReplyVerdict::Failed},
        {"<p class=\"success\">pid=5</p>", PlsReplyVerdict::Accepted},
        {"<p>pid=5</p><script>alert('Грешка')</script>", PlsReplyVerdict::Unrecognised},
        {"<p>pid=5</p><script>report('success')</script>", PlsReplyVerdict::Unrecognised},
        {"<html><head><style>.error { color: red }</style></head><body><p>Вх. № 2500081</p>"
         "<a href=\"odit.showResult?pid=81\">Резултат</a></body></html>",
         PlsReplyVerdict::Unrecognised},
        {"<!-- error: grid --><p>pid=5</p><!-- успешно -->", PlsReplyVerdict::Unrecognised},
        {"<p>pid=5</p><STYLE media=\"print\">.Success{}", PlsReplyVerdict::Unrecognised},
        {"Заявката е получена. pid=12", PlsReplyVerdict::Unrecognised},
        {"", PlsReplyVerdict::Unrecognised},
    };
    for (const auto& [page, verdict] : cases) {
        EXPECT_EQ(classifyPlsReply(page), verdict) << page;
    }
}

TEST(ToLowerCyrillic, LowersAsciiAndBasicCyrillicOnly) {
    EXPECT_EQ(toLowerCyrillic("АБВ ПРСЯ abcXYZ"), "абв прся abcxyz");
    EXPECT_EQ(toLowerCyrillic("Ёж Ѐ"), "Ёж Ѐ");    // Ё and Ѐ are outside А-Я
    EXPECT_EQ(toLowerCyrillic("€ 𝄞 Ω"), "€ 𝄞 Ω");  // other characters pass
    EXPECT_EQ(toLowerCyrillic(std::string("A\xD0", 2)), std::string("a\xD0", 2));  // a cut lead byte
}

TEST(ParsePlsPeriod, SplitsAtTheFirstSeparator) {
    struct Case {
        std::string text;
        std::optional<std::int32_t> month;
        std::optional<std::int32_t> year;
    };
    const std::vector<Case> cases = {
        {"03.2024", 3, 2024},
        {"3/2024", 3, 2024},
        {"03-2024", 3, 2024},
        {"13.2024", 13, 2024},
        {" 3.2024x", 3, 2024},
        {"2024", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"-3.2024", std::nullopt, std::nullopt},
        {"x.2024", std::nullopt, std::nullopt},
        {"3.99999999999", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        const PlsPeriod period = parsePlsPeriod(c.text);
        EXPECT_EQ(period.month, c.month) << c.text;
        EXPECT_EQ(period.year, c.year) << c.text;
    }
}

TEST(NormalizeCrlf, WritesEveryLineEndAsCrLfAndDropsTheMark) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a\nb\r\nc\rd", "a\r\nb\r\nc\r\nd"},
        {"\r\r\n", "\r\n\r\n"},
        {"\xEF\xBB\xBFx\n", "x\r\n"},
        {"\xEF\xBB\xBF", ""},
        {"\xEF\xBB", "\xEF\xBB"},  // too short for a mark
        {"x\xEF\xBB\xBF", "x\xEF\xBB\xBF"},
        {"", ""},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(normalizeCrlf(bytesOf(in)), bytesOf(out)) << in;
    }
}

TEST(ReadDeclarationFile, ReadsRegularFilesOnly) {
    test::TempDir dir;
    std::ofstream(dir.sub("a.txt"), std::ios::binary) << std::string("x\0y", 3);
    std::filesystem::create_directory(dir.sub("folder"));
    EXPECT_EQ(readDeclarationFile(dir.sub("a.txt")), Bytes({'x', 0, 'y'}));
    EXPECT_EQ(readDeclarationFile(dir.sub("folder")), std::nullopt);
    EXPECT_EQ(readDeclarationFile(dir.sub("missing")), std::nullopt);
    EXPECT_EQ(readDeclarationFile(""), std::nullopt);
}

TEST(TaxpayerPinType, ListedTypeFirstThenTheDigits) {
    Taxpayer listed;
    listed.pin = "8001010000";
    listed.pinType = code(IdentifierType::IND_LNCH);
    const std::vector<Taxpayer> taxpayers = {listed};
    const std::vector<std::pair<std::string, IdentifierType>> cases = {
        {"8001010000", IdentifierType::IND_LNCH},
        {"123456789", IdentifierType::BUS_BULSTAT},
        {"8001010001", IdentifierType::IND_EGN},
        {"1234567890123", IdentifierType::IND_BULSTAT},
        {"12345678901", IdentifierType::None},
        {"12345678A", IdentifierType::None},
        {"", IdentifierType::None},
    };
    for (const auto& [pin, type] : cases) {
        EXPECT_EQ(taxpayerPinType(taxpayers, pin), type) << pin;
    }
}

TEST(HighFiscRiskDocType, TakesTheSixNamesExactly) {
    const std::vector<std::pair<std::string, std::int32_t>> cases = {
        {"EU_BG", 9},   {"BG_EU", 10}, {"ANNUL", 11}, {"CONFIRM", 12}, {"BG_BG", 13},
        {"IMPORT", 14}, {"import", 0}, {" EU_BG", 0}, {"EU-BG", 0},    {"", 0},
    };
    for (const auto& [subtype, type] : cases) {
        EXPECT_EQ(features::high_fisc_risk::highFiscRiskDocType(subtype), type) << subtype;
    }
}

TEST(Base64ToText, DecodesBytesUnchanged) {
    EXPECT_EQ(base64ToText(""), "");
    EXPECT_EQ(base64ToText("0J/RgNC40LXRgg=="), "Приет");
    EXPECT_EQ(base64ToText("zw=="), "\xCF");  // not converted, whatever it is
}

TEST(ResponseText, FindsTheContentTypeInAnySpelling) {
    EXPECT_EQ(http::findHeader({{"Content-type", "text/html; charset=windows-1251"}}, "Content-Type"),
              "text/html; charset=windows-1251");
    EXPECT_EQ(http::findHeader({{"CONTENT-TYPE", "a"}}, "Content-Type"), "a");
    EXPECT_EQ(http::findHeader({{"Content-Length", "1"}}, "Content-Type"), std::nullopt);
}

// Its charset when it names one; windows-1251 when it names none and the
// bytes are not UTF-8; otherwise UTF-8 with the broken bytes replaced.
TEST(ResponseText, ConvertsByTheCharsetAndRepairsTheRest) {
    const std::string cp1251 = "\xD0\xE5\xE7\xF3\xEB\xF2\xE0\xF2";  // "Резултат"
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {cp1251, "text/html; charset=windows-1251", "Резултат"},
        {cp1251, "text/html;Charset=\"CP1251\"", "Резултат"},
        {"Резултат", "text/html; charset=utf-8", "Резултат"},
        {cp1251, "", "Резултат"},
        {cp1251, "text/html", "Резултат"},
        {"a\xFF", "", "aя"},
        {"Резултат", "", "Резултат"},
        {"pid=1", "text/html; charset=windows-1251", "pid=1"},
        {"a\xFF", "text/html; charset=utf-8", "a\xEF\xBF\xBD"},
        {"a\xFF", "text/html; charset=iso-8859-5", "a\xEF\xBF\xBD"},
    };
    for (const auto& [body, contentType, text] : cases) {
        EXPECT_EQ(http::bodyAsUtf8(body, contentType), text) << contentType << " " << body;
    }
    EXPECT_EQ(http::utf8ContentType("text/html; charset=windows-1251"), "text/html; charset=utf-8");
    EXPECT_EQ(http::utf8ContentType("application/json"), "application/json; charset=utf-8");
    EXPECT_EQ(http::utf8ContentType(""), "text/html; charset=utf-8");
    // A header's bytes reach the answer: they are made UTF-8 too.
    EXPECT_EQ(http::utf8ContentType("text/h\xFFtml; charset=x"), "text/h\xEF\xBF\xBDtml; charset=utf-8");
}

}  // namespace
}  // namespace velk::core::infra::portal
