#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/agency/DebtPaymentRoutes.h"
#include "features/payments/DebtPaymentsInquiry.h"
#include "portal_inquiries/PortalInquiryTest.h"
#include "support/LogCapture.h"

namespace velk::core::features {
namespace {

using payments::DebtPaymentsInquiry;
using test::BrokenReply;
using testing::ElementsAre;
using testing::IsEmpty;

const std::string kObligations = "/api/base/debt-payments";

class DebtPaymentsInquiryTest : public PortalInquiryTest {
protected:
    DebtPaymentsInquiry inquiry_;
};

TEST_F(DebtPaymentsInquiryTest, ListsEveryRecordOfTheYearWithoutTotals) {
    const json answer = run(inquiry_, {{"eik", kCompanyEik}, {"year", "2024"}});
    EXPECT_EQ(answer["status"], "ok");
    EXPECT_EQ(answer["rowCount"], 3);
    EXPECT_EQ(answer["year"], 2024);
    EXPECT_EQ(answer["type"], "0");
    EXPECT_EQ(answer["error"], nullptr);
    EXPECT_EQ(answer.size(), 6u);  // no totals
    ASSERT_EQ(answer["items"].size(), 3u);
    const json first = {
        {"debtTypeName", "ДДФЛ"},        {"documentType", "Декларация обр. 1"},
        {"documentNumber", "2024-0001"}, {"documentDate", "2024-02-14"},
        {"debtPeriod", "01.2024"},       {"dueDate", "2024-02-25"},
        {"dueAmount", 1200.5},           {"paidAmount", 1000.0},
        {"paidAllAmount", 1000.0},       {"outstandingAmount", 200.5},
        {"outstandingInterest", 3.25},   {"paymentTypeName", "Банков превод"},
        {"datePayment", "2024-02-20"},
    };
    EXPECT_EQ(answer["items"][0], first);
    // The payment without a kind is a record like any other.
    const json& payment = answer["items"][2];
    EXPECT_EQ(payment["debtTypeName"], "");
    EXPECT_EQ(payment["documentType"], nullptr);
    EXPECT_EQ(payment["paidAmount"], 150.0);
    EXPECT_EQ(payment["dueAmount"], 0.0);
    EXPECT_THAT(result_.rows[0],
                ElementsAre("ДДФЛ", "Декларация обр. 1", "2024-0001", "2024-02-14", "01.2024", "2024-02-25",
                            "1200.50", "1000", "1000", "200.50", "3.25", "Банков превод", "2024-02-20"));

    const auto sent = portal_.requestsTo(kObligations);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].query, "TYPE=0&YEAR=2024");
    EXPECT_EQ(sent[0].header("Accept"), "application/json");
    EXPECT_EQ(sent[0].cookie("selectedContext"), "MTAwMQ==");
    EXPECT_EQ(meta("rawBodyContentType"), "application/json; charset=utf-8");
}

TEST_F(DebtPaymentsInquiryTest, TheKindAndTheYearGoToThePortalAndBackAsSent) {
    struct Case {
        std::string type;  // empty: not sent
        std::string year;
        std::string query;
        std::size_t rows;
        json typedYear;
    };
    const std::vector<Case> cases = {
        {"12", "2024", "TYPE=12&YEAR=2024", 2, 2024},
        {"", "2025.000000", "TYPE=0&YEAR=2025", 1, 2025},
        {"1", "abc", "TYPE=1&YEAR=0", 0, 0},
        // A kind cannot add parameters: the portal sees one YEAR and an unknown kind.
        {"0&YEAR=1999", "2024", "TYPE=0%26YEAR%3D1999&YEAR=2024", 0, 2024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        portal_.clearRequests();
        operations::ParamMap params = {{"eik", kCompanyEik}, {"year", c.year}};
        if (!c.type.empty()) {
            params["type"] = c.type;
        }
        const json answer = run(inquiry_, params);
        EXPECT_EQ(answer["status"], "ok");
        EXPECT_THAT(queriesTo(kObligations), ElementsAre(c.query));
        EXPECT_EQ(answer["rowCount"], c.rows);
        EXPECT_EQ(answer["type"], c.type.empty() ? "0" : c.type);
        EXPECT_EQ(meta("year"), c.year);
        EXPECT_EQ(answer["year"], c.typedYear);
    }
}

TEST_F(DebtPaymentsInquiryTest, EveryElementIsARowEvenOneThatIsNoObject) {
    portal_.on("GET", kObligations, test::Reply::json(200, R"([7,{"paidAmount":100.5,"datePayment":null}])"));
    run(inquiry_, {{"eik", kCompanyEik}, {"year", "2024"}});
    ASSERT_EQ(result_.rows.size(), 2u);
    EXPECT_EQ(result_.rows[0], std::vector<std::string>(13, ""));
    EXPECT_EQ(result_.rows[1][7], "100.50");
    EXPECT_EQ(result_.rows[1][12], "");
}

}  // namespace
}  // namespace velk::core::features
