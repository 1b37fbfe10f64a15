#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/agency/FormBody.h"
#include "features/dec731/Dec731Declaration.h"
#include "features/odit/OditFileDeclaration.h"
#include "filing/FilingTest.h"
#include "infrastructure/portal/PlsResultsExecutor.h"

namespace velk::core::infra::portal {
namespace {

using operations::InquiryResult;
using operations::ResultsQuery;
using test::PlsDocument;
using test::Reply;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::StartsWith;
using Row = std::vector<std::string>;

constexpr const char* kAjaxPage = "!dec2009.ipubxmldec.ajaxListDocuments";
const std::string kAjaxPath = std::string("/pls/pub/") + kAjaxPage;
const std::string kHtmlPath = "/pls/pub/DEC2009.IPUBXSD_VAL_DEC.linkDocuments";

PlsDocument document(const std::string& module, const std::string& eik, const std::string& pid, int year,
                     int month) {
    PlsDocument d;
    d.module = module;
    d.eik = eik;
    d.pid = pid;
    d.incomeNumber = "24" + pid;
    d.incomeDate = "15.04." + std::to_string(year + 1);
    d.year = year;
    d.month = month;
    return d;
}

class PlsListingTest : public FilingTest {
protected:
    InquiryResult ajax(const ResultsQuery& query) {
        return PlsResultsExecutor::fetchResultsAjax(session_, odit_, kAjaxPage, query);
    }
    InquiryResult html(const ResultsQuery& query) {
        return PlsResultsExecutor::fetchResultsHtml(session_, dec731_, dec731_, query);
    }

    features::odit::OditFileDeclaration odit_;
    features::dec731::Dec731Declaration dec731_;
};

TEST_F(PlsListingTest, AjaxListingAsksLikeTheListingPageAndNarrowsToThePeriod) {
    agency_.pls().addDocument(document("dec2009.ipubxmldec", kCompanyEik, "11", 2024, 3));
    agency_.pls().addDocument(document("dec2009.ipubxmldec", kCompanyEik, "12", 2024, 4));
    agency_.pls().addDocument(document("dec2009.ipubxmldec", kCompanyEik, "13", 2023, 3));
    agency_.pls().addDocument(document("dec2009.ipubxmldec", "8001010000", "14", 2024, 3));

    const InquiryResult result = ajax(ResultsQuery(kCompanyEik, 2024, 3));
    EXPECT_THAT(result.rows, ElementsAre(Row{kCompanyEik, "3", "2024", "2411", "15.04.2025", "11"}));
    EXPECT_EQ(result.metadata.at("count"), "1");
    EXPECT_EQ(result.metadata.count("error"), 0u);
    EXPECT_EQ(result.rawBodyContentType, "application/json");
    EXPECT_EQ(result.rawBodyUrl, "https://portal.nra.bg" + kAjaxPath);
    EXPECT_THAT(result.rawBody, StartsWith("{\"data\":["));
    ASSERT_EQ(result.columns.size(), 6u);
    EXPECT_EQ(result.columns[5].id, "documentId");

    // The field names travel unescaped; the fake checked all 61 of them.
    const auto requests = portal_.requestsTo(kAjaxPath);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_THAT(requests[0].body, HasSubstr("columns[7][data]=DOCID"));
    EXPECT_EQ(requests[0].header("X-Requested-With"), "XMLHttpRequest");

    EXPECT_EQ(ajax(ResultsQuery(kCompanyEik)).rows.size(), 3u);
    EXPECT_EQ(ajax(ResultsQuery(kCompanyEik, 2024)).rows.size(), 2u);
    const InquiryResult none = ajax(ResultsQuery(kCompanyEik, 2024, 5));
    EXPECT_TRUE(none.rows.empty());
    EXPECT_EQ(none.metadata.at("count"), "0");
}

TEST_F(PlsListingTest, AjaxRowsTakeStringsOnlyAndKeepRowsWithoutAPeriod) {
    portal_.on("POST", kAjaxPath, Reply::json(200, R"({"data":[
                   {"UIN":"","PERIOD":"03.2024","INNO":"123","INNODATE":"15.04.2024","DOCID":987},
                   {"UIN":"999999999","PERIOD":"2024","INNO":5,"INNODATE":"1.1.2024","DOCID":"7"},
                   "not an object", 42,
                   {"PERIOD":""}]})"));
    const InquiryResult result = ajax(ResultsQuery(kCompanyEik, 2024, 3));
    EXPECT_THAT(result.rows, ElementsAre(Row{kCompanyEik, "3", "2024", "123", "15.04.2024", ""},
                                         Row{"999999999", "", "", "", "1.1.2024", "7"},
                                         Row{kCompanyEik, "", "", "", "", ""}));
    EXPECT_EQ(result.metadata.at("count"), "3");
}

TEST_F(PlsListingTest, AjaxRepliesWithoutRowsOrNotJson) {
    struct Case {
        Reply reply;
        std::string count;  // "" for none
        std::string error;  // the start of the error, "" for none
    };
    const std::vector<Case> cases = {
        {Reply::json(200, R"({"data":{"DOCID":"1"}})"), "0", ""},
        {Reply::json(200, R"([{"DOCID":"1"}])"), "0", ""},
        {Reply::text(200, "<html>\xCF\xF0\xE8</html>"), "", "Невалиден JSON отговор: "},
        {Reply::text(500, "down"), "", "HTTP 500 при четене на списъка с подадени документи."},
        {Reply::text(404, ""), "", "HTTP 404 при четене на списъка с подадени документи."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply.body);
        portal_.on("POST", kAjaxPath, c.reply);
        const InquiryResult result = ajax(ResultsQuery(kCompanyEik));
        EXPECT_TRUE(result.rows.empty());
        EXPECT_EQ(result.columns.size(), 6u);
        EXPECT_EQ(result.metadata.count("status"), 0u);
        if (c.count.empty()) {
            EXPECT_EQ(result.metadata.count("count"), 0u);
        } else {
            EXPECT_EQ(result.metadata.at("count"), c.count);
        }
        if (c.error.empty()) {
            EXPECT_EQ(result.metadata.count("error"), 0u);
        } else {
            EXPECT_THAT(result.metadata.at("error"), StartsWith(c.error));
            // The parser quotes the page, which need not be UTF-8.
            EXPECT_TRUE(isValidUtf8(result.metadata.at("error")));
        }
    }
}

// The "start" of each listing request, in order.
std::vector<std::string> listingStarts(const std::vector<test::RecordedRequest>& requests) {
    std::vector<std::string> starts;
    for (const test::RecordedRequest& request : requests) {
        for (const test::FormBodyField& field : test::parseFormBody(request.body)) {
            if (field.rawName == "start") {
                starts.push_back(field.value);
            }
        }
    }
    return starts;
}

TEST_F(PlsListingTest, AjaxListingReadsOnUntilTheDocumentSoughtIsListed) {
    struct Case {
        int documents;       // in the fake's listing, filed in order
        std::string sought;  // "" for none
        std::vector<std::string> starts;
        std::size_t rows;
    };
    const std::vector<Case> cases = {
        {250, "", {"0"}, 100},
        {250, "1010", {"0"}, 100},
        {250, "1240", {"0", "100", "200"}, 250},
        {150, "999", {"0", "100"}, 150},         // the short page is the last
        {200, "999", {"0", "100", "200"}, 200},  // an empty page too
        {1200, "999", {"0", "100", "200", "300", "400", "500", "600", "700", "800", "900"}, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.documents) + " documents, sought '" + c.sought + "'");
        agency_.pls().forgetDocuments();
        for (int i = 0; i < c.documents; ++i) {
            agency_.pls().addDocument(
                document("dec2009.ipubxmldec", kCompanyEik, std::to_string(1000 + i), 2024, 1));
        }
        ResultsQuery query(kCompanyEik);
        query.documentId = c.sought;
        const std::size_t before = portal_.requestsTo(kAjaxPath).size();
        const InquiryResult result = ajax(query);
        const auto requests = portal_.requestsTo(kAjaxPath);
        EXPECT_EQ(listingStarts({requests.begin() + static_cast<std::ptrdiff_t>(before), requests.end()}),
                  c.starts);
        EXPECT_EQ(result.rows.size(), c.rows);
        EXPECT_EQ(result.metadata.at("count"), std::to_string(c.rows));
        EXPECT_EQ(result.metadata.count("error"), 0u);
        // The first page's reply is the raw body.
        EXPECT_THAT(result.rawBody, HasSubstr("\"DOCID\":\"1000\""));
    }
}

TEST_F(PlsListingTest, AFailingLaterPageEndsTheReadingWithItsError) {
    std::string firstPage = R"({"data":[)";
    for (int i = 0; i < 100; ++i) {
        firstPage += std::string(i == 0 ? "" : ",") + R"({"DOCID":")" + std::to_string(i) + R"("})";
    }
    firstPage += "]}";
    for (const Reply& later : {Reply::text(502, "down"), Reply::json(200, "[1e400]")}) {
        SCOPED_TRACE(later.body);
        portal_.on("POST", kAjaxPath, [&](const test::RecordedRequest& request) {
            return listingStarts({request}) == std::vector<std::string>{"0"} ? Reply::json(200, firstPage)
                                                                             : later;
        });
        ResultsQuery query(kCompanyEik);
        query.documentId = "500";
        const InquiryResult result = ajax(query);
        EXPECT_EQ(result.rows.size(), 100u);
        EXPECT_THAT(result.metadata.at("error"),
                    later.status == 502 ? StartsWith("HTTP 502 при четене на списъка")
                                        : StartsWith("Невалиден JSON отговор: [json.exception.out_of_range"));
        EXPECT_EQ(result.metadata.count("count"), 0u);
        EXPECT_EQ(result.rawBody, firstPage);
    }
}

TEST_F(PlsListingTest, HtmlListingReadsTheLinkDocumentsPageByYear) {
    agency_.pls().addDocument(document("dec2009.ipubxsd_val_dec", kCompanyEik, "21", 2025, 0));
    agency_.pls().addDocument(document("dec2009.ipubxsd_val_dec", kCompanyEik, "22", 2024, 0));
    agency_.pls().addDocument(document("dec2009.ipubxmldec", kCompanyEik, "23", 2025, 0));

    const InquiryResult result = html(ResultsQuery(kCompanyEik, 2025));
    EXPECT_THAT(result.rows, ElementsAre(Row{kCompanyEik, "", "2025", "2421", "15.04.2026", "21"}));
    EXPECT_EQ(result.metadata.at("count"), "1");
    EXPECT_EQ(result.rawBodyUrl, "https://portal.nra.bg" + kHtmlPath);
    EXPECT_EQ(result.rawBodyContentType, "text/html; charset=utf-8");
    EXPECT_EQ(portal_.requestsTo(kHtmlPath).size(), 1u);
    EXPECT_EQ(html(ResultsQuery(kCompanyEik)).rows.size(), 2u);
}

TEST_F(PlsListingTest, HtmlRowsAreKeptUnlessTheirYearDiffers) {
    // windows-1251, as the agency's older pages are; the header row has no
    // onmouseover and the third row too few cells.
    Reply page =
        Reply::text(200,
                    "<table><tr><th>\xC2\xF5. \xB9</th></tr>"
                    "<tr onmouseover=\"h(this)\"><td>1</td><td>\xC2\xD5-1</td><td>01.02.2024</td>"
                    "<td>a</td><td>b</td><td>2023</td><td><a href=\"x.showResult?pid=31\">r</a></td></tr>"
                    "<tr onmouseover=\"h(this)\"><td>2</td><td>N2</td><td>02.02.2024</td><td>a</td>"
                    "<td onclick=\"open(IPDOC_ID = '555')\">b</td><td>-</td></tr>"
                    "<tr onmouseover=\"h(this)\"><td>3</td><td>N3</td></tr>"
                    "<tr onmouseover=\"h(this)\"><td>4</td><td>N4</td><td>04.02.2024</td><td>a</td>"
                    "<td>b</td></tr></table>");
    page.contentType = "text/html; charset=windows-1251";
    portal_.on("GET", kHtmlPath, page);

    const InquiryResult all = html(ResultsQuery(kCompanyEik));
    EXPECT_THAT(all.rows, ElementsAre(Row{kCompanyEik, "", "2023", "ВХ-1", "01.02.2024", "31"},
                                      Row{kCompanyEik, "", "-", "N2", "02.02.2024", "555"},
                                      Row{kCompanyEik, "", "", "N4", "04.02.2024", ""}));
    EXPECT_THAT(all.rawBody, HasSubstr("Вх. №"));

    const InquiryResult of2024 = html(ResultsQuery(kCompanyEik, 2024));
    EXPECT_EQ(of2024.rows.size(), 2u);
    EXPECT_EQ(of2024.metadata.at("count"), "2");
}

TEST_F(PlsListingTest, HtmlListingFailures) {
    portal_.on("GET", kHtmlPath, Reply::text(500, "down"));
    InquiryResult result = html(ResultsQuery(kCompanyEik));
    EXPECT_EQ(result.metadata.at("error"), "HTTP 500 при четене на списъка с подадени документи.");
    EXPECT_EQ(result.metadata.size(), 1u);
    EXPECT_TRUE(result.rawBody.empty());

    result = html(ResultsQuery("999999999"));
    EXPECT_THAT(result.metadata.at("error"), StartsWith("Фирма с избрания ЕИК не е намерена"));
    EXPECT_EQ(result.metadata.size(), 1u);
}

TEST_F(PlsListingTest, HtmlListingNeedsTheLinksUrl) {
    agency_.setCatalogueJson(R"([{"id":"c","name":"d","services":[{"id":"s","name":"info-income-dif-73",
        "links":[{"id":"731","name":"info-income-dif-73-1","i18nName":"Подадени документи","props":{}}]}]}])");
    const InquiryResult result = html(ResultsQuery(kCompanyEik));
    EXPECT_EQ(result.metadata.at("error"), "listDocumentsUrl is empty for handler.");
    EXPECT_TRUE(portal_.requestsTo(kHtmlPath).empty());
}

}  // namespace
}  // namespace velk::core::infra::portal
