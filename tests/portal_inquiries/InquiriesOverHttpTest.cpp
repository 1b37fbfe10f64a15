#include <gtest/gtest.h>

#include <string>

#include "fakes/FakeCertStore.h"
#include "fakes/LoopbackHosts.h"
#include "fakes/agency/DebtPaymentRoutes.h"
#include "fakes/agency/FakeAgency.h"
#include "infrastructure/portal/NapSession.h"
#include "platform/ProviderPinCache.h"
#include "server_http/ServerHarness.h"

namespace velk::test {
namespace {

using core::json;
using core::infra::portal::NapSession;

constexpr const char* kPin = "4321";

// A web application's requests to the local API, run by the real engine for
// sender "a" (a certificate the agency accepts) or "b" (none) against the
// fake agency.
class InquiriesOverHttpTest : public ::testing::Test {
protected:
    InquiriesOverHttpTest() {
        certificateId_ = store_.add("user", hosts_.pki().issue(), kPin, true);
        auto withCertificate = testSender("a");
        withCertificate.certificateId = certificateId_;
        harness_.settings().upsertSender(withCertificate);
        auto withoutCertificate = testSender("b");
        withoutCertificate.certificateId.clear();
        harness_.settings().upsertSender(withoutCertificate);
    }
    void SetUp() override {
        platform::ProviderPinCache::remember(certificateId_, kPin);
        NapSession::resetProcessCachesForTests();
    }
    void TearDown() override {
        platform::ProviderPinCache::clear();
        NapSession::resetProcessCachesForTests();
    }

    // The typed answer of one run.
    json ask(const std::string& typeId, const json& params, const std::string& senderId = "a") {
        const Answer answer =
            harness_.post("/api/v1/operations/" + typeId, params.dump(), {{"X-Velk-Sender-Id", senderId}});
        EXPECT_EQ(answer.status, 200) << answer.body;
        return answer.status == 200 ? answer.json() : json();
    }

    FakeCertStore store_;
    LoopbackHosts hosts_;
    FakeAgency agency_{hosts_};
    std::string certificateId_;
    ServerHarness harness_;
};

TEST_F(InquiriesOverHttpTest, DueAmountsAnswersTheAgencysFiguresAndTotals) {
    const json answer = ask("due_amounts", {{"eik", "123456789"}, {"year", 2024}});
    EXPECT_EQ(answer["status"], "ok");
    EXPECT_EQ(answer["error"], nullptr);
    EXPECT_EQ(answer["year"], 2024);
    EXPECT_EQ(answer["rowCount"], 2);
    EXPECT_EQ(answer["totalOutstanding"], 5200.5);
    EXPECT_EQ(answer["totalInterest"], 44.35);
    ASSERT_EQ(answer["items"].size(), 2u);
    EXPECT_EQ(answer["items"][1]["debtTypeName"], "ДДС");
    EXPECT_EQ(answer["items"][1]["outstandingAmount"], 5000.0);
    EXPECT_EQ(answer["items"][1]["documentDate"], "2024-03-14");
    EXPECT_EQ(agency_.portal().requestsTo("/api/base/debt-payments").at(0).query, "TYPE=0&YEAR=2024");
}

TEST_F(InquiriesOverHttpTest, TaxpayersOfASenderWithoutCertificateSayTheLoginFailed) {
    const json answer = ask("taxpayers", json::object(), "b");
    const json expected = {
        {"items", json::array()},
        {"status", "error"},
        {"count", 0},
        {"error", "Неуспешен вход в НАП: Не е избран сертификат (certificateId is empty)."},
    };
    EXPECT_EQ(answer, expected);
}

// Each reader's words for a broken answer are in the readers' common table
// (HostileRepliesTest.cpp); here they reach the web application's answer.
TEST_F(InquiriesOverHttpTest, ABrokenPortalAnswerReachesTheCallerAsAnError) {
    struct Case {
        const char* typeId;
        json params;
        BrokenReply kind;
        std::string error;  // a prefix for the parse error
    };
    const std::vector<Case> cases = {
        {"debt_payments",
         {{"eik", "123456789"}, {"year", 2024}, {"type", "12"}},
         BrokenReply::ServerError,
         "HTTP 500 от https://portal.nra.bg/api/base/debt-payments?TYPE=12&YEAR=2024"},
        {"debt_payments_types", json::object(), BrokenReply::NotJson, "Parse грешка: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typeId);
        agency_.debtPayments().breakReplies(c.kind);
        const json answer = ask(c.typeId, c.params);
        EXPECT_EQ(answer["status"], "error");
        EXPECT_EQ(answer["error"].get<std::string>().rfind(c.error, 0), 0u) << answer.dump();
        EXPECT_EQ(answer["items"], json::array());
    }
}

TEST_F(InquiriesOverHttpTest, TheCatalogueOfALoggedInSessionIsFiltered) {
    EXPECT_EQ(ask("taxpayers", json::object())["count"], 2);
    const json answer = ask("nap_catalog", {{"filter", "debt.report"}});
    EXPECT_EQ(answer["status"], "ok");
    EXPECT_EQ(answer["totalLinks"], 11);
    EXPECT_EQ(answer["matchedLinks"], 1);
    EXPECT_EQ(answer["categories"], 3);
    ASSERT_EQ(answer["items"].size(), 1u);
    EXPECT_EQ(answer["items"][0]["systemId"], "3");
}

}  // namespace
}  // namespace velk::test
