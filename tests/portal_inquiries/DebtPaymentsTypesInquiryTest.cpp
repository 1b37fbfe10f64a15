#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/agency/DebtPaymentRoutes.h"
#include "features/payments/DebtPaymentsTypesInquiry.h"
#include "portal_inquiries/PortalInquiryTest.h"
#include "portal_session/TestPortalHandler.h"
#include "support/LogCapture.h"

namespace velk::core::features {
namespace {

using payments::DebtPaymentsTypesInquiry;
using test::BrokenReply;
using testing::ElementsAre;

const std::string kTypes = "/api/base/debt-payments/types";
const std::string kAutoSelect = "DebtPaymentsTypesInquiry: auto-selecting first taxpayer ";

class DebtPaymentsTypesInquiryTest : public PortalInquiryTest {
protected:
    DebtPaymentsTypesInquiry inquiry_;
};

TEST_F(DebtPaymentsTypesInquiryTest, AFreshSessionGoesThroughTheFirstTaxpayer) {
    test::LogCapture log;
    const json answer = run(inquiry_);
    const json expected = {
        {"items",
         {{{"id", "1"},
           {"name", "Данък върху доходите на физическите лица"},
           {"code", "ДДФЛ"},
           {"groupId", "1"}},
          {{"id", "12"}, {"name", "Данък върху добавената стойност"}, {"code", "ДДС"}, {"groupId", "1"}},
          {{"id", "20"},
           {"name", "Задължителни осигурителни вноски"},
           {"code", "ДОО"},
           {"groupId", "Осигуровки"}}}},
        {"status", "ok"},
        {"rowCount", 3},
        {"error", nullptr},
    };
    EXPECT_EQ(answer, expected) << answer.dump(1);
    EXPECT_EQ(log.count("INFO", kAutoSelect + "Тест ЕООД"), 1);
    EXPECT_EQ(result_.rawBody, test::defaultDebtPaymentTypesJson());
    EXPECT_EQ(meta("rawBodyContentType"), "application/json; charset=utf-8");
    ASSERT_TRUE(session_.selectedTaxpayer());
    EXPECT_EQ(session_.selectedTaxpayer()->tin, 1001);
    // No request headers beyond the client's own.
    const auto sent = portal_.requestsTo(kTypes);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_FALSE(sent[0].header("Referer"));
}

TEST_F(DebtPaymentsTypesInquiryTest, ASelectedTaxpayerIsPreparedAgain) {
    test::TestPortalHandler payments("dept-and-payments-report", "", "dept-and-payments-report-1");
    ASSERT_TRUE(session_.prepareFor(payments, kPersonEgn, 0)) << session_.lastError();
    portal_.clearRequests();
    test::LogCapture log;
    EXPECT_EQ(run(inquiry_)["status"], "ok");
    EXPECT_EQ(log.count("INFO", kAutoSelect), 0);
    const auto select = portal_.requestsTo("/api/common/taxpayer/select");
    ASSERT_EQ(select.size(), 1u);
    EXPECT_EQ(select[0].body, R"({"tin":1002})");
}

TEST_F(DebtPaymentsTypesInquiryTest, TheTableIsFoundWhereverThePortalPutsIt) {
    using Rows = std::vector<std::vector<std::string>>;
    const Rows defaultRows = {
        {"1", "Данък върху доходите на физическите лица", "ДДФЛ", "1"},
        {"12", "Данък върху добавената стойност", "ДДС", "1"},
        {"20", "Задължителни осигурителни вноски", "ДОО", "Осигуровки"},
    };
    const std::vector<std::pair<std::string, Rows>> cases = {
        {test::wrappedDebtPaymentTypesJson("data"), defaultRows},
        {test::wrappedDebtPaymentTypesJson("content"), defaultRows},
        // A key that holds no array is passed over; every element is a row.
        {R"({"items":5,"types":[{"id":3.0,"label":"Етикет","category":true},7,{"id":3}]})",
         {{"3.000000", "Етикет", "", "true"}, {"", "", "", ""}, {"3", "", "", ""}}},
        // An empty array is an array: "items" wins over "data".
        {R"({"items":[],"data":[{"id":1}]})", {}},
    };
    for (const auto& [reply, rows] : cases) {
        agency_.debtPayments().setTypesJson(reply);
        const json answer = run(inquiry_);
        EXPECT_EQ(answer["status"], "ok") << reply;
        EXPECT_EQ(result_.rows, rows) << reply;
        EXPECT_EQ(answer["rowCount"], rows.size()) << reply;
    }
}

TEST_F(DebtPaymentsTypesInquiryTest, APreparationFailureOnlyWarns) {
    agency_.setCatalogueJson("[{\"name\":\"other\",\"services\":[{\"name\":\"x\"}]}]");
    test::LogCapture log;
    const json answer = run(inquiry_);
    EXPECT_EQ(answer["status"], "ok");
    EXPECT_EQ(answer["rowCount"], 3);
    EXPECT_EQ(log.count("WARN",
                        "DebtPaymentsTypesInquiry: prepareFor: Услуга 'dept-and-payments-report' не е "
                        "намерена в каталога — continuing, /types may still work."),
              1);
}

// A refused login is in the readers' common table (HostileRepliesTest.cpp).
TEST_F(DebtPaymentsTypesInquiryTest, WithoutTaxpayersNothingIsAsked) {
    agency_.setTaxpayersJson("[]");
    const json answer = run(inquiry_);
    EXPECT_EQ(answer["status"], "error");
    EXPECT_EQ(answer["error"], "Няма налични задължени лица в сесията.");
    EXPECT_THAT(portal_.requestsTo(kTypes), testing::IsEmpty());
    EXPECT_THAT(columnIds(), ElementsAre("id", "name", "code", "groupId"));
}

}  // namespace
}  // namespace velk::core::features
