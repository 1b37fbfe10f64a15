#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>

#include "common/JsonUtils.h"
#include "common/TextUtils.h"
#include "fakes/agency/DebtPaymentRoutes.h"
#include "features/due_amounts/DueAmountsInquiry.h"
#include "portal_inquiries/PortalInquiryTest.h"
#include "support/LogCapture.h"

namespace velk::core::features {
namespace {

using due_amounts::DueAmountsInquiry;
using test::BrokenReply;
using testing::ElementsAre;
using testing::IsEmpty;

const std::string kObligations = "/api/base/debt-payments";

std::string thisYear() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return std::to_string(local.tm_year + 1900);
}

class DueAmountsInquiryTest : public PortalInquiryTest {
protected:
    DueAmountsInquiry inquiry_;
};

TEST_F(DueAmountsInquiryTest, ListsTheObligationsOfTheYearWithTheirTotals) {
    const json answer = run(inquiry_, {{"eik", kCompanyEik}, {"year", "2024.000000"}});

    // The payment without a kind or a document is no obligation: no row, and
    // its 10.00 and 1.00 stay out of the totals.
    const json expected = {
        {"items",
         {{{"debtTypeName", "ДДФЛ"},
           {"documentType", "Декларация обр. 1"},
           {"documentNumber", "2024-0001"},
           {"documentDate", "2024-02-14"},
           {"debtPeriod", "01.2024"},
           {"dueDate", "2024-02-25"},
           {"dueAmount", 1200.5},
           {"outstandingAmount", 200.5},
           {"outstandingInterest", 3.25}},
          {{"debtTypeName", "ДДС"},
           {"documentType", "Справка-декларация по ЗДДС"},
           {"documentNumber", "2024-0002"},
           {"documentDate", "2024-03-14"},
           {"debtPeriod", "02.2024"},
           {"dueDate", "2024-03-14"},
           {"dueAmount", 5000.0},
           {"outstandingAmount", 5000.0},
           {"outstandingInterest", 41.1}}}},
        {"totalOutstanding", 5200.5},
        {"totalInterest", 44.35},
        {"year", 2024},
        {"rowCount", 2},
        {"status", "ok"},
        {"error", nullptr},
    };
    EXPECT_EQ(answer, expected) << answer.dump(1);
    EXPECT_EQ(meta("totalOutstanding"), "5200.50");
    EXPECT_EQ(meta("totalInterest"), "44.35");
    EXPECT_EQ(meta("year"), "2024.000000");  // as sent
    EXPECT_EQ(meta("rawBodyContentType"), "application/json; charset=utf-8");

    // Asked for the company, which the session selected first, with the
    // portal's JSON headers; the reply is kept as it came.
    const auto sent = portal_.requestsTo(kObligations);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].query, "TYPE=0&YEAR=2024");
    EXPECT_EQ(sent[0].header("Accept"), "application/json");
    EXPECT_EQ(sent[0].header("Referer"), "https://portal.nra.bg/home.html");
    EXPECT_EQ(sent[0].cookie("selectedContext"), "MTAwMQ==");  // tin 1001
    EXPECT_EQ(portal_.requestsTo("/api/common/service-links/select/101").size(), 1u);
    EXPECT_EQ(json::parse(result_.rawBody).size(), 3u);
}

TEST_F(DueAmountsInquiryTest, CellsKeepTheSentFormAndOnlyNumbersCount) {
    agency_.debtPayments().setObligationsJson(R"([
        {"tin":1001,"year":2024,"typeId":1,"debtTypeName":"А","outstandingAmount":100,"outstandingInterest":0.5},
        {"tin":1001,"year":2024,"typeId":1,"debtTypeName":"Б","outstandingAmount":100.5,"outstandingInterest":"7"},
        {"tin":1001,"year":2024,"typeId":1,"debtTypeName":"В","outstandingAmount":"100.5"},
        {"tin":1001,"year":2024,"typeId":1,"documentType":"Акт","outstandingAmount":-3.5,"dueAmount":true},
        {"tin":1001,"year":2024,"typeId":1,"debtTypeName":"","outstandingAmount":1000}
    ])");
    const json answer = run(inquiry_, {{"eik", kCompanyEik}, {"year", "2024"}});

    ASSERT_EQ(result_.rows.size(), 4u);
    std::vector<std::string> outstanding;
    for (const auto& row : result_.rows) {
        outstanding.push_back(row[7]);
    }
    EXPECT_THAT(outstanding, ElementsAre("100", "100.50", "100.5", "-3.50"));
    EXPECT_EQ(result_.rows[3][0], "");
    EXPECT_EQ(result_.rows[3][1], "Акт");
    EXPECT_EQ(result_.rows[3][6], "true");
    EXPECT_EQ(meta("totalOutstanding"), "197.00");
    EXPECT_EQ(meta("totalInterest"), "0.50");
    EXPECT_EQ(answer["rowCount"], 4);
    // A text that is no number gives the field's fallback in the typed answer.
    EXPECT_EQ(answer["items"][3]["dueAmount"], 0.0);
    EXPECT_EQ(answer["items"][2]["outstandingAmount"], 100.5);
}

TEST_F(DueAmountsInquiryTest, AnEmptyListIsNoError) {
    agency_.debtPayments().setObligationsJson("[]");
    const json answer = run(inquiry_, {{"eik", kCompanyEik}, {"year", "2024"}});
    EXPECT_EQ(answer["status"], "ok");
    EXPECT_EQ(answer["items"], json::array());
    EXPECT_EQ(meta("totalOutstanding"), "0.00");
    EXPECT_EQ(meta("totalInterest"), "0.00");
    EXPECT_EQ(meta("rowCount"), "0");
}

TEST_F(DueAmountsInquiryTest, WithoutAUsableYearTheCurrentYearIsQueriedAndReported) {
    struct Case {
        operations::ParamMap params;
        std::string reported;
    };
    const std::vector<Case> cases = {
        {{{"eik", kCompanyEik}}, thisYear()},
        {{{"eik", kCompanyEik}, {"year", ""}}, thisYear()},
        {{{"eik", kCompanyEik}, {"year", "abc"}}, thisYear()},
        {{{"eik", kCompanyEik}, {"year", "99999999999"}}, thisYear()},
        {{{"eik", kCompanyEik}, {"year", " 2023"}}, " 2023"},
    };
    for (const Case& c : cases) {
        portal_.clearRequests();
        const json answer = run(inquiry_, c.params);
        SCOPED_TRACE(c.reported);
        EXPECT_EQ(answer["status"], "ok");
        EXPECT_EQ(meta("year"), c.reported);
        const std::string queried = c.reported == " 2023" ? "2023" : thisYear();
        EXPECT_EQ(answer["year"], std::stoi(queried));
        EXPECT_THAT(queriesTo(kObligations), ElementsAre("TYPE=0&YEAR=" + queried));
    }
}

// A failed login is in the readers' common table (HostileRepliesTest.cpp).
TEST_F(DueAmountsInquiryTest, ACompanyTheCertificateDoesNotServeStopsTheRun) {
    const std::string error =
        "Фирма с избрания ЕИК не е намерена в списъка на задължените лица (налични задължени лица: 2)";
    test::LogCapture log;
    const json answer = run(inquiry_, {{"eik", "000000000"}, {"year", "2024"}});
    EXPECT_EQ(answer["status"], "error");
    EXPECT_EQ(answer["error"], error);
    EXPECT_EQ(log.count("WARN", "DueAmountsInquiry: portal prep failed: " + error), 1);
    EXPECT_THAT(portal_.requestsTo(kObligations), IsEmpty());
}

}  // namespace
}  // namespace velk::core::features
