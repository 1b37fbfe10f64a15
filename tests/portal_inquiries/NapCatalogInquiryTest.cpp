#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "features/catalog/NapCatalogInquiry.h"
#include "portal_inquiries/PortalInquiryTest.h"

namespace velk::core::features {
namespace {

using catalog::NapCatalogInquiry;
using testing::ElementsAre;
using testing::IsEmpty;

class NapCatalogInquiryTest : public PortalInquiryTest {
protected:
    // The fake serves its catalogue only to a live session.
    void logIn() {
        ASSERT_TRUE(session_.ensureLoggedIn()) << session_.lastError();
        portal_.clearRequests();
        login_.clearRequests();
    }

    NapCatalogInquiry inquiry_;
};

TEST_F(NapCatalogInquiryTest, LaysEveryLinkOutFlat) {
    logIn();
    const json answer = run(inquiry_);
    EXPECT_EQ(answer["status"], "ok");
    EXPECT_EQ(answer["totalLinks"], 11);
    EXPECT_EQ(answer["matchedLinks"], 11);
    EXPECT_EQ(answer["categories"], 3);
    EXPECT_EQ(answer["error"], nullptr);
    ASSERT_EQ(answer["items"].size(), 11u);
    const json first = {
        {"name", "Задължения и плащания — Справка за задължения и плащания"},
        {"url", "https://portal.nra.bg//details/dept-and-payments-report-1"},
        {"linkType", "INTERNAL"},
        {"category", "payments"},
        {"serviceId", nullptr},
        {"systemId", "3"},
    };
    EXPECT_EQ(answer["items"][0], first);
    EXPECT_EQ(answer["items"][10]["name"], "Справка-декларация по ЗДДС — Подаване на справка-декларация");
    // Read from the session's catalogue: no login, nothing else asked.
    EXPECT_THAT(queriesTo("/api/base/categories"), ElementsAre(""));
    EXPECT_EQ(portal_.requests().size(), 1u);
}

TEST_F(NapCatalogInquiryTest, TheFilterLooksAtNamesTitlesAndAddressesIgnoringAsciiCase) {
    logIn();
    struct Case {
        std::string filter;
        std::size_t matched;
    };
    const std::vector<Case> cases = {
        {"", 11},
        {"DEBT.REPORT", 1},  // only in the link's "url" property
        {"debt.report", 1},
        {"DEC2009", 7},
        {"ДДС", 2},
        {"ддс", 0},  // Cyrillic keeps its case
        {"portal.nra.bg//details/odit", 2},
        {"няма такова", 0},
    };
    for (const Case& c : cases) {
        const json answer = run(inquiry_, {{"filter", c.filter}});
        EXPECT_EQ(answer["status"], "ok") << c.filter;
        EXPECT_EQ(answer["totalLinks"], 11) << c.filter;
        EXPECT_EQ(answer["matchedLinks"], c.matched) << c.filter;
        EXPECT_EQ(answer["items"].size(), c.matched) << c.filter;
    }
}

TEST_F(NapCatalogInquiryTest, TitlesAndAddressesFollowTheirRules) {
    agency_.setCatalogueJson(R"([{"id":"c","name":"cat","services":[
        {"name":"s1","i18nTitle":"S","links":[{"name":"l1","i18nName":"L","link":"http://example.org/a"}]},
        {"name":"s2","i18nTitle":"S","links":[{"name":"l2","i18nName":"S","link":"https://example.org/b"}]},
        {"name":"s3","links":[{"name":"l3","title":"L","link":"pls/pub/page"}]},
        {"name":"s4","links":[{"name":"l4","link":"","linkType":"LEGACY",
                               "props":{"serviceId":42,"systemId":3.5,"url":null}}]}
    ]}])");
    logIn();
    run(inquiry_);
    ASSERT_EQ(result_.rows.size(), 4u);
    EXPECT_THAT(result_.rows[0], ElementsAre("S — L", "http://example.org/a", "", "cat", "", ""));
    EXPECT_THAT(result_.rows[1], ElementsAre("S", "https://example.org/b", "", "cat", "", ""));
    EXPECT_THAT(result_.rows[2], ElementsAre("L", "https://portal.nra.bg/pls/pub/page", "", "cat", "", ""));
    EXPECT_THAT(result_.rows[3], ElementsAre("s4", "", "LEGACY", "cat", "42", "3.500000"));
}

TEST_F(NapCatalogInquiryTest, AnUnloadableCatalogueIsAnErrorAndNoLoginIsTried) {
    // Not logged in, the fake gives an empty catalogue.
    const json answer = run(inquiry_, {{"filter", "x"}});
    EXPECT_EQ(answer["status"], "error");
    EXPECT_EQ(answer["error"], "Категориите не се заредиха от НАП.");
    EXPECT_EQ(answer["items"], json::array());
    EXPECT_EQ(meta("totalLinks"), "<absent>");
    EXPECT_EQ(columnIds(),
              (std::vector<std::string>{"name", "url", "linkType", "category", "serviceId", "systemId"}));
    EXPECT_THAT(login_.requests(), IsEmpty());
    EXPECT_THAT(portal_.requestsTo("/auth/entrypoint"), IsEmpty());
}

}  // namespace
}  // namespace velk::core::features
