#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "common/JsonUtils.h"
#include "common/TextUtils.h"
#include "features/taxpayers/TaxpayersInquiry.h"
#include "portal_inquiries/PortalInquiryTest.h"

namespace velk::core::features {
namespace {

using taxpayers::TaxpayersInquiry;
using test::Reply;

class TaxpayersInquiryTest : public PortalInquiryTest {
protected:
    TaxpayersInquiry inquiry_;
};

TEST_F(TaxpayersInquiryTest, ListsTheTaxpayersOfTheCertificate) {
    const json answer = run(inquiry_);
    const json expected = {
        {"items",
         {{{"name", "Тест ЕООД"},
           {"pin", "123456789"},
           {"pinType", "BUS_BULSTAT"},
           {"tin", 1001},
           {"email", "office@test.bg"},
           {"authorization", "Пълномощно № 1"},
           {"active", "да"}},
          {{"name", "Иван Петров Иванов"},
           {"pin", kPersonEgn},
           {"pinType", "IND_EGN"},
           {"tin", 1002},
           {"email", "ivan@test.bg"},
           {"authorization", nullptr},
           {"active", "да"}}}},
        {"status", "ok"},
        {"count", 2},
        {"error", nullptr},
    };
    EXPECT_EQ(answer, expected) << answer.dump(1);
    EXPECT_EQ(agency_.sessionsOpened(), 1);
}

TEST_F(TaxpayersInquiryTest, UnknownTypesInactiveTaxpayersAndNegativeIdsReadAsTheyAre) {
    agency_.setTaxpayersJson(
        R"([{"name":"Стара ООД","pin":"111","pinType":"XYZ","tin":-5,"active":false},{"pin":"222"}])");
    run(inquiry_);
    ASSERT_EQ(result_.rows.size(), 2u);
    EXPECT_EQ(result_.rows[0], (std::vector<std::string>{"Стара ООД", "111", "UNKNOWN", "-5", "", "", "не"}));
    EXPECT_EQ(result_.rows[1], (std::vector<std::string>{"", "222", "UNKNOWN", "0", "", "", "не"}));
}

TEST_F(TaxpayersInquiryTest, AnEmptyListIsNoErrorWhateverFailedBefore) {
    agency_.setTaxpayersJson("[]");
    ASSERT_TRUE(session_.ensureLoggedIn());
    // An earlier step of the session failed and left its words behind.
    ASSERT_EQ(session_.findTaxpayerByEik(kCompanyEik), nullptr);
    ASSERT_FALSE(session_.lastError().empty());

    const json answer = run(inquiry_);
    EXPECT_EQ(answer["status"], "ok");
    EXPECT_EQ(answer["count"], 0);
    EXPECT_EQ(answer["items"], json::array());
    EXPECT_EQ(columnIds(), (std::vector<std::string>{"name", "pin", "pinType", "tin", "email",
                                                     "authorization", "active"}));
}

// A refused login is in the readers' common table (HostileRepliesTest.cpp).
TEST_F(TaxpayersInquiryTest, ALoginWithoutCertificateSaysWhy) {
    session_.configure(identity(""));
    const json answer = run(inquiry_);
    EXPECT_EQ(answer["status"], "error");
    EXPECT_EQ(answer["error"], "Неуспешен вход в НАП: Не е избран сертификат (certificateId is empty).");
}

}  // namespace
}  // namespace velk::core::features
