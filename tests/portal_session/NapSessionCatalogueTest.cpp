#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/agency/AgencyData.h"
#include "portal_session/PortalSessionTest.h"
#include "support/LogCapture.h"

namespace velk::core::infra::portal {
namespace {

using test::Reply;

class NapSessionCatalogueTest : public PortalSessionTest {
protected:
    void SetUp() override {
        PortalSessionTest::SetUp();
        ASSERT_TRUE(session_.login()) << session_.lastError();
        portal_.clearRequests();
    }
    std::size_t requestsTo(const char* path) const { return portal_.requestsTo(path).size(); }
};

TEST_F(NapSessionCatalogueTest, TaxpayersAreReadOncePerCertificate) {
    test::LogCapture log;
    const std::vector<Taxpayer>& list = session_.listTaxpayers();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "Тест ЕООД");
    EXPECT_EQ(list[0].pin, "123456789");
    EXPECT_EQ(list[0].pinType, 5);
    EXPECT_EQ(list[0].tin, 1001);
    EXPECT_EQ(list[0].email, "office@test.bg");
    EXPECT_EQ(list[0].authorization, "Пълномощно № 1");
    EXPECT_TRUE(list[0].active);
    EXPECT_EQ(list[1].pinType, 1);
    EXPECT_EQ(log.count("INFO", "NapSession::listTaxpayers: 2 taxpayer(s) returned"), 1);
    EXPECT_EQ(requestsTo("/api/base/taxpayers"), 1u);
    const auto sent = portal_.requestsTo("/api/base/taxpayers").front();
    EXPECT_EQ(sent.header("Accept"), "application/json");

    EXPECT_EQ(&session_.listTaxpayers(), &list);
    EXPECT_EQ(requestsTo("/api/base/taxpayers"), 1u);

    // Another certificate gets its own list; the first stays, even across a
    // new login.
    session_.configure(identity(addCertificate("other", "Мария Георгиева")));
    agency_.setTaxpayersJson(R"([{"name":"Друга ООД","pin":"999999999","pinType":"BUS_BULSTAT","tin":7}])");
    ASSERT_TRUE(session_.login());
    const std::vector<Taxpayer>& other = session_.listTaxpayers();
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(other[0].tin, 7);

    session_.configure(identity(certificateId_));
    ASSERT_TRUE(session_.login());
    portal_.clearRequests();
    EXPECT_EQ(&session_.listTaxpayers(), &list);
    EXPECT_EQ(list.size(), 2u);
    EXPECT_EQ(requestsTo("/api/base/taxpayers"), 0u);
}

TEST_F(NapSessionCatalogueTest, UnreadableTaxpayerRepliesGiveTheEmptyListAndAreAskedAgain) {
    struct Case {
        Reply reply;
        std::string level;
        std::string line;
    };
    const std::vector<Case> cases = {
        {Reply::json(500, "[]"), "WARN", "NapSession::listTaxpayers: HTTP 500"},
        {Reply::text(200, "<html>вход</html>"), "WARN", "NapSession::listTaxpayers parse: "},
        {Reply::json(200, R"({"a":1})"), "WARN", R"(NapSession::listTaxpayers: unexpected body — {"a":1})"},
        {Reply::json(200, "[]"), "INFO", "NapSession::listTaxpayers: 0 taxpayer(s) returned"},
    };
    for (const Case& c : cases) {
        portal_.on("GET", "/api/base/taxpayers", c.reply);
        portal_.clearRequests();
        test::LogCapture log;
        EXPECT_TRUE(session_.listTaxpayers().empty()) << c.line;
        EXPECT_TRUE(session_.listTaxpayers().empty()) << c.line;
        EXPECT_EQ(requestsTo("/api/base/taxpayers"), 2u) << c.line;
        EXPECT_EQ(log.count(c.level, c.line), 2) << c.line;
    }
}

TEST_F(NapSessionCatalogueTest, WithoutCertificateIdTheListIsReadButNotKept) {
    portal_.on("GET", "/api/base/taxpayers", Reply::json(200, test::defaultTaxpayersJson()));
    session_.configure(identity(""));
    test::LogCapture log;
    EXPECT_TRUE(session_.listTaxpayers().empty());
    EXPECT_EQ(log.count("INFO", "NapSession::listTaxpayers: 2 taxpayer(s) returned"), 1);
}

TEST_F(NapSessionCatalogueTest, FindTaxpayerByEikComparesBytesAndSaysWhyNot) {
    const Taxpayer* found = session_.findTaxpayerByEik("8001010000");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->tin, 1002);
    EXPECT_EQ(session_.lastError(), "");

    const std::string notFound = "Фирма с избрания ЕИК не е намерена в списъка на задължените лица";
    EXPECT_EQ(session_.findTaxpayerByEik(" 123456789"), nullptr);
    EXPECT_EQ(session_.lastError(), notFound + " (налични задължени лица: 2)");

    NapSession::resetProcessCachesForTests();
    agency_.expireSessions();
    EXPECT_EQ(session_.findTaxpayerByEik("123456789"), nullptr);
    EXPECT_EQ(session_.lastError(), notFound + " (списъкът е празен — сесията може да не е активна)");
}

TEST_F(NapSessionCatalogueTest, CatalogueIsReadOncePerProcess) {
    test::LogCapture log;
    const std::vector<Category>& catalogue = session_.categories();
    ASSERT_EQ(catalogue.size(), 3u);
    EXPECT_EQ(catalogue[0].title, "Плащания");
    ASSERT_EQ(catalogue[0].services.size(), 1u);
    const Service& payments = catalogue[0].services[0];
    EXPECT_EQ(payments.name, "dept-and-payments-report");
    ASSERT_EQ(payments.links.size(), 1u);
    EXPECT_EQ(payments.links[0].id, "101");
    EXPECT_EQ(payments.links[0].title, "Справка за задължения и плащания");
    EXPECT_EQ(payments.links[0].orderNum, 1);
    EXPECT_EQ(payments.links[0].props.at("systemId"), "3");
    EXPECT_EQ(log.count("INFO", "NapSession::categories: 3 categories loaded (process-wide)"), 1);
    EXPECT_EQ(portal_.requestsTo("/api/base/categories").front().header("Accept"), "application/json");

    // Any session, any certificate: the process keeps the first catalogue.
    session_.configure(identity(addCertificate("other", "Мария Георгиева")));
    agency_.setCatalogueJson("[]");
    EXPECT_EQ(&session_.categories(), &catalogue);
    EXPECT_EQ(catalogue.size(), 3u);
    EXPECT_EQ(requestsTo("/api/base/categories"), 1u);
}

TEST_F(NapSessionCatalogueTest, UnusableCataloguesAreNotKept) {
    struct Case {
        const char* name;
        Reply reply;
        std::string level;  // "" when nothing is logged
        std::string line;
    };
    const std::vector<Case> cases = {
        // What the portal answers without a session: caching it would hide
        // the catalogue from every later operation of the process.
        {"empty array", Reply::json(200, "[]"), "WARN",
         "NapSession::categories: empty catalogue — not cached"},
        {"object", Reply::json(200, R"({"categories":[]})"), "", ""},
        {"refused", Reply::json(503, "[]"), "WARN", "NapSession::categories: HTTP 503"},
        {"not JSON", Reply::text(200, "<html>"), "WARN", "NapSession::categories parse: "},
    };
    for (const Case& c : cases) {
        portal_.on("GET", "/api/base/categories", c.reply);
        test::LogCapture log;
        EXPECT_TRUE(session_.categories().empty()) << c.name;
        if (c.level.empty()) {
            EXPECT_EQ(log.count("WARN", "NapSession::categories"), 0) << c.name;
            EXPECT_EQ(log.count("INFO", "NapSession::categories"), 0) << c.name;
        } else {
            EXPECT_EQ(log.count(c.level, c.line), 1) << c.name;
        }
    }
    agency_.script();
    portal_.clearRequests();
    EXPECT_EQ(session_.categories().size(), 3u);
    EXPECT_EQ(requestsTo("/api/base/categories"), 1u);
}

}  // namespace
}  // namespace velk::core::infra::portal
