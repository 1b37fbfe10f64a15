#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "common/JsonUtils.h"
#include "filing/FilingTest.h"
#include "operations/IInquiry.h"
#include "operations/ISubmission.h"
#include "operations/OperationRegistry.h"
#include "operations/ResultProjection.h"
#include "support/LogCapture.h"

namespace velk::core::infra::portal {
namespace {

using operations::IInquiry;
using operations::InquiryResult;
using operations::ParamMap;
using test::PlsDocument;
using test::Reply;
using test::RestReceipt;
using testing::HasSubstr;
using testing::StartsWith;

const std::string kResultPath = "/declaration/api-declarations/result";
const std::string kPlsBase = "https://portal.nra.bg/pls/pub/";

PlsDocument plsDocument(const std::string& module, const std::string& pid, const std::string& income,
                        int year, int month) {
    PlsDocument d;
    d.module = module;
    d.eik = "123456789";
    d.pid = pid;
    d.incomeNumber = income;
    d.incomeDate = "15.04.2025";
    d.year = year;
    d.month = month;
    return d;
}

class ResultInquiriesTest : public FilingTest {
protected:
    // Runs the registered inquiry and checks that its answer serialises.
    InquiryResult run(const std::string& typeId, const ParamMap& params) {
        const std::unique_ptr<operations::IVelkOperation> op =
            operations::OperationRegistry::instance().create(typeId);
        const auto& inquiry = dynamic_cast<const IInquiry&>(*op);
        InquiryResult result = inquiry.run(&session_, params);
        EXPECT_NO_THROW(dumpCompact(operations::projectInquiryResult(inquiry.resultSchema(), result)));
        return result;
    }

    static std::string meta(const InquiryResult& result, const std::string& key) {
        const auto it = result.metadata.find(key);
        return it == result.metadata.end() ? "<absent>" : it->second;
    }

    // An art. 62 notice the API accepted: document 9001.
    void fileNotice() {
        const std::string path = writeFile("etz62.xml", "<x/>");
        const auto op = operations::OperationRegistry::instance().create("etz62");
        ASSERT_TRUE(dynamic_cast<const operations::ISubmission&>(*op).submit(&session_, path, {}).success);
    }

    const ParamMap notice_{{"documentId", "9001"}, {"eik", kCompanyEik}};
};

TEST_F(ResultInquiriesTest, RestResultsReadTheReceiptByDocumentIdAlike) {
    fileNotice();
    for (const char* typeId : {"etz62_result", "etz123_result", "high_fisc_risk_result", "dec1_6_result"}) {
        SCOPED_TRACE(typeId);
        const InquiryResult result = run(typeId, notice_);
        EXPECT_EQ(meta(result, "status"), "ok");
        EXPECT_EQ(meta(result, "error"), "<absent>");
        EXPECT_THAT(meta(result, "rawBody"), HasSubstr("Входящ № ЕТ-9001"));
        EXPECT_EQ(meta(result, "rawBodyContentType"), "text/html; charset=utf-8");
        EXPECT_EQ(meta(result, "rawBodyUrl"), "https://api.nra.bg/declaration/api-declarations/result");
        EXPECT_THAT(meta(result, "rawJson"), StartsWith("{"));
        EXPECT_EQ(meta(result, "documentId"), "9001");
        EXPECT_EQ(meta(result, "incomeNumber"), "ЕТ-9001");
        EXPECT_EQ(meta(result, "submittedAt"), "2025-04-15T10:30:00");
        EXPECT_TRUE(result.columns.empty());
        EXPECT_TRUE(result.rows.empty());
    }
    // The id travels as a JSON number; the fake refuses anything else.
    const auto asked = agency_.api().requestsTo(kResultPath);
    ASSERT_EQ(asked.size(), 4u);
    EXPECT_EQ(json::parse(asked[0].body)["documentId"], 9001);
    EXPECT_EQ(json::parse(asked[0].body)["taxpayerPinType"], "BUS_BULSTAT");
}

TEST_F(ResultInquiriesTest, TheFirstReceiptThereIsWinsAndNamesItsType) {
    fileNotice();
    struct Case {
        RestReceipt receipt;
        std::string body;
        std::string type;
    };
    const std::vector<Case> cases = {
        {RestReceipt::FullHtml, "<html>", "text/html; charset=utf-8"},
        {RestReceipt::HtmlOnly, "<html>", "text/html; charset=utf-8"},
        {RestReceipt::PlainOnly, "Входящ № ЕТ-9001", "text/plain; charset=utf-8"},
        {RestReceipt::None, "<absent>", "text/html; charset=utf-8"},
    };
    for (const Case& c : cases) {
        agency_.restApi().setReceipt(c.receipt);
        const InquiryResult result = run("etz62_result", notice_);
        EXPECT_EQ(meta(result, "status"), "ok");
        EXPECT_THAT(meta(result, "rawBody"), StartsWith(c.body));
        EXPECT_EQ(meta(result, "rawBodyContentType"), c.type);
    }
}

TEST_F(ResultInquiriesTest, RestResultFailures) {
    struct Case {
        ParamMap params;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{}, "documentId е задължителен"},
        {{{"documentId", "9001"}}, "eik е задължителен"},
        {{{"documentId", "9001"}, {"eik", ""}}, "eik е задължителен"},
    };
    for (const Case& c : cases) {
        const InquiryResult result = run("etz62_result", c.params);
        EXPECT_EQ(meta(result, "status"), "error");
        EXPECT_EQ(meta(result, "error"), c.error);
        EXPECT_EQ(meta(result, "rawBodyUrl"), "<absent>");
    }

    session_.setSigner(nullptr);
    EXPECT_EQ(meta(run("etz62_result", notice_), "error"), "Няма наличен signer на сесията.");
    session_.setSigner(&signer_);
    SessionIdentity id = identity(certificateId_);
    id.apiKey.clear();
    session_.configure(id);
    EXPECT_EQ(meta(run("etz62_result", notice_), "error"), "Не е зададен API ключ.");
    id.certificateId = "00";
    id.apiKey = "api-key-1";
    session_.configure(id);
    EXPECT_EQ(meta(run("etz62_result", notice_), "error"), "Неуспешен прочит на сертификата за API ключа.");
    session_.configure(identity(""));
    EXPECT_EQ(meta(run("etz62_result", notice_), "error"), "Не е избран КЕП сертификат.");
    EXPECT_TRUE(agency_.api().requests().empty());

    // An unknown document: the API's 404 and its message.
    session_.configure(identity(certificateId_));
    const InquiryResult unknown = run("etz62_result", {{"documentId", "1"}, {"eik", "8001010001"}});
    EXPECT_EQ(meta(unknown, "status"), "error");
    EXPECT_THAT(meta(unknown, "error"), StartsWith("HTTP 404 — "));
    EXPECT_THAT(meta(unknown, "rawJson"), HasSubstr("Документът не е намерен."));
    EXPECT_EQ(meta(unknown, "rawBodyUrl"), "https://api.nra.bg/declaration/api-declarations/result");
    // Ten digits not among the taxpayers: a person.
    EXPECT_EQ(json::parse(agency_.api().requestsTo(kResultPath).back().body)["taxpayerPinType"], "IND_EGN");

    agency_.api().on("POST", kResultPath, Reply::json(200, R"({"errorMessage":"Грешка в заявката"})"));
    EXPECT_EQ(meta(run("etz62_result", notice_), "error"), "Грешка в заявката");
}

// Receipts and pages that declare no charset: UTF-8 when they are, else
// windows-1251, as the agency writes them.
TEST_F(ResultInquiriesTest, TextWithoutACharsetIsReadAsWindows1251UnlessItIsUtf8) {
    const std::string cp1251 = "\xC2\xF5\xEE\xE4\xFF\xF9 \xB9 1";  // "Входящ № 1"
    struct Case {
        std::string answer;
        std::string body;
    };
    const std::vector<Case> cases = {
        {R"({"documentId":"9001","base64FullHtmlResultInfo":")" + base64Encode(std::string_view(cp1251)) +
             R"("})",
         "Входящ № 1"},
        {R"({"documentId":"9001","base64HtmlResult":")" + base64Encode(std::string_view(cp1251)) + R"("})",
         "Входящ № 1"},
        {R"({"documentId":"9001","base64Result":")" + base64Encode(std::string_view(cp1251)) + R"("})",
         "Входящ № 1"},
        {R"({"documentId":"9001","base64Result":")" + base64Encode(std::string_view("Входящ № 2")) + R"("})",
         "Входящ № 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        agency_.api().on("POST", kResultPath, Reply::json(200, c.answer));
        const InquiryResult result = run("etz62_result", notice_);
        EXPECT_EQ(meta(result, "status"), "ok");
        EXPECT_EQ(meta(result, "rawBody"), c.body);
    }

    agency_.pls().addDocument(plsDocument("dec2009.ipubxsd_val_dec", "5002", "2400005002", 2025, 0));
    Reply page = Reply::text(200, "<p>" + cp1251 + "</p>");
    page.contentType = "text/html";
    portal_.on("GET", "/pls/pub/DEC2009.IPUBXSD_VAL_DEC.showResult", page);
    const InquiryResult result = run("dec731_result", {{"documentId", "5002"}, {"eik", kCompanyEik}});
    EXPECT_EQ(meta(result, "rawBody"), "<p>Входящ № 1</p>");
    EXPECT_EQ(meta(result, "rawBodyContentType"), "text/html; charset=utf-8");
}

// Whatever bytes a header or an answer carries, the result is UTF-8 JSON (run
// checks that it serialises) and the failure is the reader's, not a throw.
TEST_F(ResultInquiriesTest, BrokenHeadersAndAnswersStillMakeAResult) {
    agency_.pls().addDocument(plsDocument("dec2009.ipubxsd_val_dec", "5002", "2400005002", 2025, 0));
    Reply page = Reply::text(200, "<p>ok</p>");
    page.contentType = "text/h\xFFtml; charset=utf-8";
    portal_.on("GET", "/pls/pub/DEC2009.IPUBXSD_VAL_DEC.showResult", page);
    const InquiryResult result = run("dec731_result", {{"documentId", "5002"}, {"eik", kCompanyEik}});
    EXPECT_EQ(meta(result, "status"), "ok");
    EXPECT_EQ(meta(result, "rawBodyContentType"), "text/h\xEF\xBF\xBDtml; charset=utf-8");

    agency_.api().on("POST", kResultPath,
                     Reply::json(200, R"({"documentId":"9001","base64Result":"eA==","entryDate":1e400})"));
    InquiryResult answer;
    ASSERT_NO_THROW(answer = run("etz62_result", notice_));
    EXPECT_EQ(meta(answer, "status"), "error");
    EXPECT_THAT(meta(answer, "error"), StartsWith("json parse: [json.exception.out_of_range.406]"));
    EXPECT_EQ(meta(answer, "rawBody"), "<absent>");
}

TEST_F(ResultInquiriesTest, IncomeStatementResultPagesComeInUtf8) {
    agency_.pls().addDocument(plsDocument("dec2009.ipubxsd_val_dec", "5002", "2400005002", 2025, 0));
    for (const char* typeId : {"dec731_result", "dec736_result"}) {
        SCOPED_TRACE(typeId);
        const InquiryResult result = run(typeId, {{"documentId", "5002"}, {"eik", kCompanyEik}});
        EXPECT_EQ(meta(result, "status"), "ok");
        EXPECT_EQ(meta(result, "error"), "<absent>");
        EXPECT_EQ(meta(result, "rawBodyUrl"), kPlsBase + "DEC2009.IPUBXSD_VAL_DEC.showResult?pid=5002");
        // Served in windows-1251; the answer is UTF-8 and says so.
        EXPECT_THAT(meta(result, "rawBody"), HasSubstr("Резултат от обработката"));
        EXPECT_THAT(meta(result, "rawBody"), HasSubstr("вх. № 2400005002"));
        EXPECT_EQ(meta(result, "rawBodyContentType"), "text/html; charset=utf-8");
    }
    const auto asked = portal_.requestsTo("/pls/pub/DEC2009.IPUBXSD_VAL_DEC.showResult");
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].header("Upgrade-Insecure-Requests"), "1");
}

TEST_F(ResultInquiriesTest, PortalResultPageFailures) {
    // Not found: the status, the page and its type are all kept.
    InquiryResult result = run("dec731_result", {{"documentId", "1"}, {"eik", kCompanyEik}});
    const std::string url = kPlsBase + "DEC2009.IPUBXSD_VAL_DEC.showResult?pid=1";
    EXPECT_EQ(meta(result, "status"), "error");
    EXPECT_EQ(meta(result, "error"), "HTTP 404 от " + url);
    EXPECT_EQ(meta(result, "rawBodyUrl"), url);
    EXPECT_THAT(meta(result, "rawBody"), HasSubstr("Няма такъв документ."));

    // The VAT return's own page, for a document the taxpayer never filed.
    result = run("vat_result", {{"documentId", "5"}, {"eik", kCompanyEik}});
    EXPECT_EQ(meta(result, "error"), "HTTP 404 от " + kPlsBase + "ivat.pub.ShowDocument?ipId=5&ipDocType=20");
    EXPECT_THAT(meta(result, "rawBody"), HasSubstr("Няма такъв документ."));
    EXPECT_EQ(meta(result, "rawBodyContentType"), "text/html; charset=utf-8");

    EXPECT_EQ(meta(run("dec736_result", {{"eik", kCompanyEik}}), "error"), "documentId е задължителен");
    EXPECT_EQ(meta(run("dec736_result", {}), "error"), "documentId е задължителен");
    EXPECT_EQ(meta(run("dec736_result", {{"documentId", "1"}}), "error"), "eik е задължителен");

    test::LogCapture log;
    result = run("dec736_result", {{"documentId", "1"}, {"eik", "999999999"}});
    EXPECT_THAT(meta(result, "error"), StartsWith("Фирма с избрания ЕИК не е намерена"));
    EXPECT_EQ(log.count("WARN", "SubmissionResultInquiry[dec736_result]: portal prep failed: Фирма"), 1);
}

TEST_F(ResultInquiriesTest, AuditFileResultIsItsListingRowOfAnyPeriod) {
    agency_.pls().addDocument(plsDocument("dec2009.ipubxmldec", "61", "2300000061", 2023, 12));
    agency_.pls().addDocument(plsDocument("dec2009.ipubxmldec", "70", "2500000070", 2025, 1));
    agency_.pls().addDocument(plsDocument("dec2009.ipubxmldec", "70", "2500000071", 2025, 2));

    InquiryResult result = run("odit_result", {{"documentId", "61"}, {"eik", kCompanyEik}});
    EXPECT_EQ(meta(result, "status"), "ok");
    EXPECT_EQ(meta(result, "rawBody"),
              R"({"companyId":"123456789","documentId":"61","incomeDate":"15.04.2025",)"
              R"("incomeNumber":"2300000061","periodMonth":"12","periodYear":"2023"})");
    EXPECT_EQ(meta(result, "rawBodyContentType"), "application/json");
    EXPECT_EQ(meta(result, "rawBodyUrl"), kPlsBase + "!dec2009.ipubxmldec.ajaxListDocuments");

    result = run("odit_result", {{"documentId", "70"}, {"eik", kCompanyEik}});
    EXPECT_THAT(meta(result, "rawBody"), HasSubstr("\"incomeNumber\":\"2500000070\""));

    result = run("odit_result", {{"documentId", "99"}, {"eik", kCompanyEik}});
    EXPECT_EQ(meta(result, "status"), "error");
    EXPECT_EQ(meta(result, "error"), "Документ с ID 99 не е намерен в листинга.");

    // Past the first hundred documents the listing is read on, page by page.
    for (int i = 0; i < 130; ++i) {
        agency_.pls().addDocument(plsDocument("dec2009.ipubxmldec", std::to_string(1000 + i), "1", 2024, 1));
    }
    agency_.pls().addDocument(plsDocument("dec2009.ipubxmldec", "7777", "2500007777", 2025, 3));
    result = run("odit_result", {{"documentId", "7777"}, {"eik", kCompanyEik}});
    EXPECT_EQ(meta(result, "status"), "ok");
    EXPECT_THAT(meta(result, "rawBody"), HasSubstr("\"incomeNumber\":\"2500007777\""));

    EXPECT_EQ(meta(run("odit_result", {{"eik", kCompanyEik}}), "error"), "documentId е задължителен");
    EXPECT_EQ(meta(run("odit_result", {{"documentId", "61"}}), "error"), "eik е задължителен");

    portal_.on("POST", "/pls/pub/!dec2009.ipubxmldec.ajaxListDocuments", Reply::text(503, ""));
    result = run("odit_result", {{"documentId", "61"}, {"eik", kCompanyEik}});
    EXPECT_EQ(meta(result, "error"), "HTTP 503 при четене на списъка с подадени документи.");
}

}  // namespace
}  // namespace velk::core::infra::portal
