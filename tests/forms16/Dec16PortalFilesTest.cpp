// The filed forms 1 and 6 fetched back from the fake agency's portal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/TextUtils.h"
#include "features/dec16/Dec16PortalFilesInquiry.h"
#include "features/dec16/Dec16PortalListing.h"
#include "portal_inquiries/PortalInquiryTest.h"
#include "support/LogCapture.h"

namespace velk::core::features {
namespace {

using dec16::Dec16PortalFilesInquiry;
using operations::ParamMap;
using test::Dec16Filing;
using test::Reply;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::StartsWith;

const std::string kListingPath = "/api/base/declarations/declarations-1-and-6";
const std::string kListingUrl = "https://portal.nra.bg" + kListingPath + "?page=0&size=10";

std::string downloadPath(std::int64_t id) {
    return "/api/base/documents/signed/" + std::to_string(id) + "/download";
}

Dec16Filing filing(std::int64_t id, const std::string& period, std::int64_t d1, std::int64_t d6) {
    Dec16Filing f;
    f.id = id;
    f.entryNumber = "16-" + std::to_string(id);
    f.entryDate = period + "-14T09:15:00";
    f.taxPeriodFrom = period + "-01";
    f.taxPeriodTo = period + "-28";
    f.d1DocFileId = d1;
    f.d6DocFileId = d6;
    return f;
}

class Dec16PortalFilesTest : public PortalInquiryTest {
protected:
    json run(const ParamMap& params) { return PortalInquiryTest::run(inquiry_, params); }
    json runFor(const std::string& year, const std::string& month) {
        return run({{"eik", kCompanyEik}, {"year", year}, {"month", month}});
    }

    const Dec16PortalFilesInquiry inquiry_;
};

TEST_F(Dec16PortalFilesTest, FindsAFilingOnTheSecondPageAndReturnsBothFilesAsUtf8) {
    const json typed = runFor("2024.000000", "3.000000");
    EXPECT_EQ(typed["status"], "ok") << typed.dump();
    EXPECT_TRUE(typed["error"].is_null());
    EXPECT_EQ(typed["submissionId"], "512");
    EXPECT_EQ(typed["incomeNumber"], "16-512");
    EXPECT_EQ(typed["submittedAt"], "2024-03-14T09:15:00");
    EXPECT_EQ(typed["period"], "Март 2024");
    EXPECT_EQ(meta("fileCount"), "2");
    EXPECT_EQ(typed["files"], json::parse(R"([
        {"name":"EMPL2021.TXT","type":"dec1","docFileId":"7024","content":"EMPL2021 2024-03 Тест\r\n"},
        {"name":"NRA62007.TXT","type":"dec6","docFileId":"7025","content":"NRA62007 2024-03 Тест\r\n"}])"));

    EXPECT_THAT(queriesTo(kListingPath), ElementsAre("page=0&size=10", "page=1&size=10"));
    const test::RecordedRequest listing = portal_.requestsTo(kListingPath).front();
    EXPECT_EQ(listing.header("Referer"), "https://portal.nra.bg/documents/dec1-and-6/api-report");
    EXPECT_EQ(listing.headerCount("Referer"), 1u);
    EXPECT_EQ(listing.header("X-Requested-With"), "XMLHttpRequest");
    EXPECT_EQ(listing.header("Accept"), "application/json");
    EXPECT_EQ(listing.header("Accept-Language"), "bg-BG,bg;q=0.9,en;q=0.8");
    EXPECT_EQ(listing.header("X-CSRF-TOKEN"), agency_.csrfToken());
    const auto download = portal_.requestsTo(downloadPath(7024));
    ASSERT_EQ(download.size(), 1u);
    EXPECT_EQ(download[0].header("Accept"), "*/*");
    EXPECT_EQ(download[0].header("X-Requested-With"), std::nullopt);
}

TEST_F(Dec16PortalFilesTest, ThePagesAreReadOnlyAsFarAsNeeded) {
    struct Case {
        std::vector<Dec16Filing> filings;  // empty: the default fourteen
        std::string year;
        std::string month;
        std::size_t pagesRead;
        std::string error;  // "" for a filing found
    };
    std::vector<Dec16Filing> many;
    for (int i = 0; i < 300; ++i) {
        many.push_back(filing(100 + i, "2019-01", 1, 2));
    }
    const std::vector<Case> cases = {
        {{}, "2025", "3", 1, ""},
        {{}, "2024", "2", 2, ""},
        {{}, "2024", "1", 2, "Няма подадена декларация обр. 1 и 6 за Януари 2024"},
        {many, "2019", "2", 24, "Няма подадена декларация обр. 1 и 6 за Февруари 2019"},
        {{filing(1, "2024-03", 0, 0)}, "2024", "4", 1, "Няма подадена декларация обр. 1 и 6 за Април 2024"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.year + "/" + c.month);
        if (!c.filings.empty()) {
            agency_.dec16().setFilings(c.filings);
        }
        portal_.clearRequests();
        const json typed = runFor(c.year, c.month);
        EXPECT_EQ(portal_.requestsTo(kListingPath).size(), c.pagesRead);
        EXPECT_EQ(typed["status"], c.error.empty() ? "ok" : "error");
        EXPECT_EQ(typed["error"], c.error.empty() ? json() : json(c.error));
    }
}

TEST_F(Dec16PortalFilesTest, TheFirstFilingOfTheMonthInTheListingsOrderIsTaken) {
    agency_.dec16().setFilings({filing(900, "2024-03", 7024, 0), filing(800, "2024-03", 7026, 7027),
                                filing(700, "2024-3", 7028, 7029)});
    const json typed = runFor("2024", "3");
    EXPECT_EQ(typed["status"], "ok");
    EXPECT_EQ(typed["submissionId"], "900");
    ASSERT_EQ(typed["files"].size(), 1u);
    EXPECT_EQ(typed["files"][0]["name"], "EMPL2021.TXT");
    EXPECT_EQ(meta("fileCount"), "1");
    EXPECT_TRUE(portal_.requestsTo(downloadPath(0)).empty());
}

TEST_F(Dec16PortalFilesTest, AFileThatCannotBeDownloadedIsLeftOut) {
    // 7100 is no document the portal knows.
    agency_.dec16().setFilings({filing(900, "2024-03", 7100, 7025)});
    test::LogCapture log;
    json typed = runFor("2024", "3");
    EXPECT_EQ(log.count("WARN", "Dec16PortalFilesInquiry: EMPL2021.TXT → HTTP 404"), 1);
    EXPECT_EQ(typed["status"], "ok");
    ASSERT_EQ(typed["files"].size(), 1u);
    EXPECT_EQ(typed["files"][0]["name"], "NRA62007.TXT");

    agency_.dec16().setFilings({filing(901, "2024-03", 7100, 0)});
    typed = runFor("2024", "3");
    EXPECT_EQ(typed["status"], "error");
    EXPECT_EQ(typed["error"], "Декларацията е намерена, но няма достъпни прикачени файлове");
    EXPECT_EQ(typed["submissionId"], "901");
    EXPECT_EQ(typed["period"], "Март 2024");
    EXPECT_EQ(columnIds(), (std::vector<std::string>{"name", "type", "docFileId", "content"}));
}

// Parameters and session failures are in the month inquiries' common table
// (tests/portal_inquiries).
TEST_F(Dec16PortalFilesTest, AYearWithLettersAfterItIsReadAsItsNumber) {
    EXPECT_EQ(runFor("2024x", "3")["status"], "ok");
}

TEST_F(Dec16PortalFilesTest, ListingRepliesThatAreNotAListingAreReported) {
    const std::string cyrillic300 = [] {
        std::string text;
        for (int i = 0; i < 300; ++i) {
            text += "ж";
        }
        return text;
    }();
    struct Case {
        const char* name;
        Reply reply;
        std::string errorStart;
        std::string exactError;  // "" when only the start is known
    };
    const std::vector<Case> cases = {
        {"500 without a body", Reply::json(500, ""), "", "HTTP 500 от " + kListingUrl},
        {"500 with a page", Reply::text(500, "Грешка"), "", "HTTP 500 от " + kListingUrl + " — Грешка"},
        {"a long page cut on a character", Reply::text(502, "x" + cyrillic300), "",
         "HTTP 502 от " + kListingUrl + " — x" + cyrillic300.substr(0, 398)},
        {"a windows-1251 page", Reply::text(503, "\xC3\xF0\xE5\xF8\xEA\xE0"),
         "HTTP 503 от " + kListingUrl + " — ", ""},
        {"not JSON", Reply::text(200, "<html>"), "Невалиден JSON отговор: ", ""},
        {"too deep", Reply::json(200, std::string(100000, '[') + std::string(100000, ']')),
         "Невалиден JSON отговор: ", ""},
        {"no content", Reply::json(200, R"({"items":[]})"), "", "Липсва поле `content` в JSON отговора"},
        {"content not an array", Reply::json(200, R"({"content":{}})"), "",
         "Липсва поле `content` в JSON отговора"},
        {"an array", Reply::json(200, "[]"), "", "Липсва поле `content` в JSON отговора"},
        {"odd elements and totals",
         Reply::json(200, R"({"content":[1,"x",null,[]],"totalPages":"3","totalElements":{}})"), "",
         "Няма подадена декларация обр. 1 и 6 за Март 2024"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        portal_.on("GET", kListingPath, c.reply);
        json typed;
        ASSERT_NO_THROW(typed = runFor("2024", "3"));
        EXPECT_EQ(typed["status"], "error");
        const std::string error = typed["error"];
        EXPECT_TRUE(isValidUtf8(error));
        if (c.exactError.empty()) {
            EXPECT_THAT(error, StartsWith(c.errorStart));
        } else {
            EXPECT_EQ(error, c.exactError);
        }
    }
}

TEST_F(Dec16PortalFilesTest, IdsAreReadFromNumbersAndNumericTexts) {
    portal_.on("GET", kListingPath, Reply::json(200, R"({"content":[
        {"id":"77","entryNumber":16,"entryDate":1.5,"taxPeriodFrom":"2024-03-01",
         "d1DocFileId":"  7024xyz","d6DocFileId":7025.0,"taxpayer":{"pin":123456789,"name":null}}],
        "totalPages":1,"totalElements":1})"));
    const json typed = runFor("2024", "3");
    EXPECT_EQ(typed["status"], "ok");
    EXPECT_EQ(typed["submissionId"], "77");
    EXPECT_EQ(typed["incomeNumber"], "16");
    EXPECT_EQ(typed["submittedAt"], "1.500000");
    // The floating-point id reads as 0 and is never asked for.
    ASSERT_EQ(typed["files"].size(), 1u);
    EXPECT_EQ(typed["files"][0]["docFileId"], "7024");
    EXPECT_TRUE(portal_.requestsTo(downloadPath(0)).empty());
}

TEST_F(Dec16PortalFilesTest, NoCsrfTokenNoHeader) {
    portal_.on("GET", "/auth/users/me", Reply::json(200, R"({"username":"ivan"})"));
    ASSERT_EQ(runFor("2025", "3")["status"], "ok");
    ASSERT_TRUE(session_.csrfToken().empty());
    EXPECT_EQ(portal_.requestsTo(kListingPath).front().headerCount("X-CSRF-TOKEN"), 0u);
}

TEST(Dec16Listing, RowsOfThePeriodAndTheValueReaders) {
    std::vector<dec16::Dec16ListingRow> rows(5);
    rows[0].taxPeriodFrom = "2026-03-01";
    rows[1].taxPeriodFrom = "2026-3-01";
    rows[2].taxPeriodFrom = "2026-03-";
    rows[3].taxPeriodFrom = "2026-03";
    rows[4].taxPeriodFrom = "2026-04-01";
    const auto kept = dec16::filterDec16RowsByPeriod(rows, 2026, 3);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[1].taxPeriodFrom, "2026-03-");
    EXPECT_TRUE(dec16::filterDec16RowsByPeriod(rows, 0, 3).empty());
    EXPECT_TRUE(dec16::filterDec16RowsByPeriod(rows, 2026, 13).empty());

    const std::vector<std::pair<json, std::int64_t>> ints = {
        {json(123), 123},
        {json("123"), 123},
        {json(" -5x"), -5},
        {json("x"), 0},
        {json(1.0), 0},
        {json(true), 0},
        {json(nullptr), 0},
        {json("99999999999999999999"), 0},
        {json(18446744073709551615ull), 0},
    };
    for (const auto& [value, expected] : ints) {
        EXPECT_EQ(dec16::jsonValueInt64(value), expected) << value.dump();
    }
    const std::vector<std::pair<json, std::string>> texts = {
        {json("т"), "т"},        {json(-3), "-3"},  {json(18446744073709551615ull), "18446744073709551615"},
        {json(2.5), "2.500000"}, {json(false), ""}, {json::object(), ""},
        {json(nullptr), ""},
    };
    for (const auto& [value, expected] : texts) {
        EXPECT_EQ(dec16::jsonValueText(value), expected) << value.dump();
    }
    EXPECT_EQ(dec16::dec16ListingUrl(2, 10),
              "https://portal.nra.bg/api/base/declarations/declarations-1-and-6?page=2&size=10");
    EXPECT_EQ(dec16::signedDocumentUrl(7024),
              "https://portal.nra.bg/api/base/documents/signed/7024/download");
}

}  // namespace
}  // namespace velk::core::features
