// The filed VAT returns fetched back from the fake agency's portal:
// vat_portal_files and vat_monthly_files, answered as the web application
// receives them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/TextUtils.h"
#include "fakes/agency/VatTextFixtures.h"
#include "features/vat/VatMonthlyFilesInquiry.h"
#include "features/vat/VatPortalFilesInquiry.h"
#include "portal_inquiries/PortalInquiryTest.h"
#include "support/LogCapture.h"

namespace velk::core::features::vat {
namespace {

using operations::ParamMap;
using test::Reply;
using testing::HasSubstr;

const std::string kPagePath = "/pls/pub/ivat.pub.MonthdecQuery";
const std::string kDownloadPath = "/pls/pub/download";
const std::string kDownloadUrl = "https://portal.nra.bg/pls/pub/download";

class VatPortalInquiriesTest : public PortalInquiryTest {
protected:
    json files(const std::string& year, const std::string& month) {
        return run(portalFiles_, {{"eik", kCompanyEik}, {"year", year}, {"month", month}});
    }
    json monthly(const std::string& year, const std::string& month) {
        return run(monthly_, {{"eik", kCompanyEik}, {"year", year}, {"month", month}});
    }
    json rawBody() const { return json::parse(result_.rawBody); }

    const VatPortalFilesInquiry portalFiles_;
    const VatMonthlyFilesInquiry monthly_;
};

TEST_F(VatPortalInquiriesTest, PortalFilesTakeTheFirstFilingOfTheMonth) {
    const json typed = files("2024.000000", "03");
    EXPECT_EQ(typed["status"], "ok") << typed.dump();
    EXPECT_TRUE(typed["error"].is_null());
    EXPECT_EQ(typed["docId"], "880002");
    EXPECT_EQ(typed["incomeNumber"], "24-0002");
    EXPECT_EQ(typed["submittedAt"], "16.04.2024 09:30");
    EXPECT_EQ(typed["period"], "Март 2024");
    EXPECT_EQ(meta("fileCount"), "2");
    ASSERT_EQ(typed["files"].size(), 2u);
    EXPECT_EQ(typed["files"][0]["name"], "DEKLAR.TXT");
    EXPECT_EQ(typed["files"][0]["type"], "declaration");
    EXPECT_EQ(typed["files"][0]["docId"], "880002");
    EXPECT_THAT(typed["files"][0]["content"].get<std::string>(), HasSubstr("Тест ЕООД"));
    EXPECT_EQ(typed["files"][1]["name"], "POKUPKI.TXT");
    EXPECT_EQ(typed["files"][1]["type"], "purchases");

    EXPECT_EQ(queriesTo(kDownloadPath),
              (std::vector<std::string>{"ipsystem_id=9&ipendpoint_id=1&ipdoc_id=880002",
                                        "ipsystem_id=9&ipendpoint_id=2&ipdoc_id=880002"}));
    EXPECT_EQ(portal_.requestsTo(kDownloadPath)[0].header("Accept"), "*/*");
    EXPECT_EQ(portal_.requestsTo(kPagePath)[0].header("Accept-Language"), "bg-BG,bg;q=0.9,en;q=0.8");
}

TEST_F(VatPortalInquiriesTest, PortalFilesOutcomes) {
    test::LogCapture log;
    json typed = files("2024", "2");
    EXPECT_EQ(typed["status"], "ok");
    EXPECT_EQ(typed["files"].size(), 3u);
    EXPECT_EQ(typed["files"][2]["name"], "PRODAGBI.TXT");
    EXPECT_EQ(log.count("WARN", "VatPortalFilesInquiry: VIES.TXT → HTTP 404"), 1);

    typed = files("2024", "1");
    EXPECT_EQ(typed["status"], "error");
    EXPECT_EQ(typed["error"], "Няма приета декларация за Януари 2024");

    test::VatFiling bare = test::defaultVatFilings()[1];
    bare.files = {{1, std::nullopt}, {2, std::nullopt}};
    agency_.vat().setFilings({bare});
    typed = files("2024", "3");
    EXPECT_EQ(typed["error"], "Декларацията е намерена, но няма достъпни прикачени файлове");
    EXPECT_EQ(typed["docId"], "880001");
    EXPECT_EQ(typed["period"], "Март 2024");
    EXPECT_TRUE(typed["files"].empty());

    portal_.on("GET", kPagePath, Reply::text(500, "<html>Грешка</html>"));
    typed = files("2024", "3");
    EXPECT_EQ(typed["error"], "HTTP 500 от MonthdecQuery");
    EXPECT_EQ(columnIds(), (std::vector<std::string>{"name", "type", "docId", "content"}));
}

TEST_F(VatPortalInquiriesTest, PagesAreReadByTheirCharset) {
    for (const std::string charset : {"windows-1251", "", "utf-8"}) {
        SCOPED_TRACE(charset);
        agency_.vat().setPageCharset(charset);
        const json typed = files("2024", "3");
        EXPECT_EQ(typed["status"], "ok");
        EXPECT_EQ(typed["docId"], "880002");
    }
}

TEST_F(VatPortalInquiriesTest, MonthlyFilesParseEveryFilingOfTheMonth) {
    const json typed = monthly("2024", "3");
    EXPECT_EQ(typed["status"], "ok") << typed.dump();
    EXPECT_EQ(meta("submissionCount"), "2");
    EXPECT_EQ(meta("period"), "Март 2024");
    EXPECT_EQ(typed["items"], json::parse(R"([
        {"incomeNumber":"24-0002","submittedAt":"16.04.2024 09:30","docId":"880002","user":"Иван Петров",
         "declaration":"1","purchases":"2","sales":"—","vies":"—"},
        {"incomeNumber":"24-0001","submittedAt":"14.04.2024 10:15","docId":"880001","user":"Иван Петров",
         "declaration":"1","purchases":"2","sales":"1","vies":"—"}])"));

    EXPECT_EQ(result_.rawBodyContentType, "application/json; charset=utf-8");
    const json body = rawBody();
    EXPECT_EQ(body["eik"], kCompanyEik);
    EXPECT_EQ(body["year"], 2024);
    EXPECT_EQ(body["month"], 3);
    EXPECT_EQ(body["period"], "Март 2024");
    const json& first = body["submissions"][0];
    EXPECT_EQ(first["submitMethod"], "КЕП");
    EXPECT_EQ(first["declaration"]["vatNumber"], "BG123456789");
    EXPECT_EQ(first["declaration"]["name"], "Тест ЕООД");
    EXPECT_EQ(first["purchases"][1]["partnerName"], "Друг доставчик");
    EXPECT_FALSE(first.contains("sales"));
    const json& diagnostics = body["diagnostics"];
    EXPECT_EQ(diagnostics["httpStatus"], 200);
    EXPECT_EQ(diagnostics["url"], "https://portal.nra.bg" + kPagePath);
    EXPECT_EQ(diagnostics["selectedLink"], "vat-report-1 (901)");
    EXPECT_EQ(diagnostics["rowsFound"], 3);
    EXPECT_EQ(diagnostics["periodsFound"], json::array({"Март 2024", "Февруари 2024"}));
    EXPECT_EQ(diagnostics["serverSession"], "<html><body><p>Активна сесия: ivan</p></body></html>");
    const std::string preview = diagnostics["bodyPreview"];
    EXPECT_LE(preview.size(), 600u);
    EXPECT_GT(preview.size(), 590u);
    EXPECT_TRUE(isValidUtf8(preview));
    EXPECT_THAT(preview, HasSubstr("Справки-декларации по ЗДДС"));
    EXPECT_GT(diagnostics["bodyLength"], 600);
}

TEST_F(VatPortalInquiriesTest, MonthlyFilesOutcomes) {
    test::LogCapture log;
    json typed = monthly("2024", "2");
    EXPECT_EQ(typed["status"], "ok");
    EXPECT_EQ(typed["items"][0]["vies"], "!");
    EXPECT_EQ(log.count("WARN", "VatMonthlyFilesInquiry: VIES.TXT → HTTP 404"), 1);
    EXPECT_EQ(rawBody()["submissions"][0]["vies"],
              json({{"error", "HTTP 404"},
                    {"url", kDownloadUrl + "?ipsystem_id=9&ipendpoint_id=4&ipdoc_id=880000"}}));

    // An empty journal counts 0; a declaration without any line is "—".
    test::VatFiling sparse = test::defaultVatFilings()[1];
    sparse.files[1] = "";
    sparse.files[2] = "\r\n   \r\n";
    agency_.vat().setFilings({sparse});
    typed = monthly("2024", "3");
    EXPECT_EQ(typed["items"][0]["declaration"], "—");
    EXPECT_EQ(typed["items"][0]["purchases"], "0");
    EXPECT_EQ(typed["items"][0]["sales"], "1");

    typed = monthly("2024", "1");
    EXPECT_EQ(typed["status"], "ok");
    EXPECT_EQ(meta("submissionCount"), "0");
    EXPECT_TRUE(typed["items"].empty());
    EXPECT_EQ(rawBody()["submissions"], json::array());

    portal_.clearRequests();
    portal_.on("GET", kPagePath, Reply::text(500, "x"));
    typed = monthly("2024", "3");
    EXPECT_EQ(typed["error"], "HTTP 500 от MonthdecQuery");
    EXPECT_TRUE(result_.rawBody.empty());
    EXPECT_EQ(portal_.requestsTo("/pls/pub/login.status").size(), 1u);
    EXPECT_EQ(columnIds().size(), 8u);
}

TEST_F(VatPortalInquiriesTest, APreviewIsCutOnACharacter) {
    // 599 bytes and a two-byte letter: the preview may not end inside it.
    Reply page = Reply::text(200, std::string(599, 'x') + "жж");
    page.contentType = "text/html; charset=utf-8";
    portal_.on("GET", kPagePath, page);
    Reply probe = Reply::text(200, std::string(799, 'y') + "\xE6\xE6");  // windows-1251, undeclared
    probe.contentType = "text/html";
    portal_.on("GET", "/pls/pub/login.status", probe);
    const json typed = monthly("2024", "3");
    EXPECT_EQ(typed["status"], "ok") << typed.dump();
    const json diagnostics = rawBody()["diagnostics"];
    EXPECT_EQ(diagnostics["bodyPreview"], std::string(599, 'x'));
    EXPECT_EQ(diagnostics["serverSession"], std::string(799, 'y'));
    EXPECT_EQ(diagnostics["bodyLength"], 603);
}

TEST(VatMonthlyFilesTest, FileSummaryCells) {
    const json filing = {{"declaration", {{"vatNumber", "1"}}},
                         {"purchases", json::array({1, 2, 3})},
                         {"sales", {{"error", "HTTP 500"}, {"url", "u"}}},
                         {"vies", nullptr},
                         {"empty", json::object()},
                         {"text", "x"}};
    EXPECT_EQ(fileSummaryCell(filing, "declaration"), "1");
    EXPECT_EQ(fileSummaryCell(filing, "purchases"), "3");
    EXPECT_EQ(fileSummaryCell(filing, "sales"), "!");
    EXPECT_EQ(fileSummaryCell(filing, "vies"), "—");
    EXPECT_EQ(fileSummaryCell(filing, "empty"), "—");
    EXPECT_EQ(fileSummaryCell(filing, "text"), "—");
    EXPECT_EQ(fileSummaryCell(filing, "absent"), "—");
}

}  // namespace
}  // namespace velk::core::features::vat
