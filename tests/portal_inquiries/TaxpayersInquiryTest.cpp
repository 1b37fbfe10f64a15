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
    // The session probe still sees the list; the listing after it gets the reply.
    void answerListingWith(const Reply& reply) {
        auto calls = std::make_shared<std::atomic<int>>(0);
        portal_.on("GET", "/api/base/taxpayers", [calls, reply](const test::RecordedRequest&) {
            return ++*calls == 1 ? Reply::json(200, test::defaultTaxpayersJson()) : reply;
        });
    }

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

TEST_F(TaxpayersInquiryTest, AFailedListingIsAnErrorNotAnEmptyList) {
    struct Case {
        Reply reply;
        std::string error;  // a prefix for the parse error
    };
    const std::vector<Case> cases = {
        {Reply::json(500, R"({"error":"x"})"), "HTTP 500 от https://portal.nra.bg/api/base/taxpayers"},
        {Reply::json(200, R"({"a":1})"), "Неочакван JSON — не е масив"},
        {Reply::text(200, "<html>вход</html>"), "Parse грешка: [json.exception.parse_error.101]"},
    };
    ASSERT_TRUE(session_.ensureLoggedIn());
    for (const Case& c : cases) {
        answerListingWith(c.reply);
        const json answer = run(inquiry_);
        EXPECT_EQ(answer["status"], "error");
        const std::string error = answer["error"];
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
        EXPECT_EQ(answer["count"], 0);
    }
}

TEST_F(TaxpayersInquiryTest, AParseErrorQuotingBytesThatAreNotUtf8StaysValidText) {
    // The parser's message quotes the bytes it stopped at; the answer is
    // written as strict UTF-8, which must not fail on them.
    ASSERT_TRUE(session_.ensureLoggedIn());
    answerListingWith(Reply::json(200, "[{\"name\":\"\xC0\xFF\"}]"));
    run(inquiry_);
    EXPECT_EQ(result_.metadata["status"], "error");
    const std::string error = result_.metadata["error"];
    EXPECT_EQ(error.rfind("Parse грешка: [json.exception.parse_error.101]", 0), 0u) << error;
    EXPECT_TRUE(isValidUtf8(error));
    EXPECT_NO_THROW(dumpCompact(json(result_.metadata)));
}

TEST_F(TaxpayersInquiryTest, AFailedLoginSaysWhy) {
    refuseLogin();
    json answer = run(inquiry_);
    EXPECT_EQ(answer["status"], "error");
    EXPECT_EQ(answer["error"], "Неуспешен вход в НАП: validation returned HTTP 401");

    session_.configure(identity(""));
    answer = run(inquiry_);
    EXPECT_EQ(answer["error"], "Неуспешен вход в НАП: Не е избран сертификат (certificateId is empty).");
}

}  // namespace
}  // namespace velk::core::features
