#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "portal_session/PortalSessionTest.h"
#include "portal_session/TestPortalHandler.h"
#include "support/LogCapture.h"

namespace velk::core::infra::portal {
namespace {

using namespace std::chrono_literals;
using test::Reply;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::Not;

const std::string kSelectService = "/api/common/service-links/select/";
const std::string kSelectTaxpayer = "/api/common/taxpayer/select";

class NapSessionSelectionTest : public PortalSessionTest {
protected:
    std::size_t count(const std::string& path) const { return portal_.requestsTo(path).size(); }

    test::TestPortalHandler payments_{"dept-and-payments-report", "", "dept-and-payments-report-1"};
    test::TestPortalHandler income73_{"info-income-dif-73", "", "info-income-dif-73-1"};
};

TEST_F(NapSessionSelectionTest, PrepareForLogsInAndSelectsTaxpayerServiceAndSystem) {
    test::LogCapture log;
    const std::optional<ServiceLink> link = session_.prepareFor(payments_, kCompanyEik, 0);
    ASSERT_TRUE(link) << session_.lastError();
    EXPECT_EQ(link->id, "101");
    EXPECT_EQ(session_.systemId(), 3);
    EXPECT_EQ(session_.lastError(), "");
    ASSERT_TRUE(session_.selectedTaxpayer());
    EXPECT_EQ(session_.selectedTaxpayer()->tin, 1001);
    EXPECT_EQ(session_.selectedTaxpayer()->pin, kCompanyEik);
    EXPECT_EQ(session_.selectedTaxpayer()->tpId, "tp-1001");
    // The portal renewed its token on the selection; the session fetched it.
    EXPECT_EQ(session_.csrfToken(), agency_.csrfToken());
    EXPECT_THAT(sleeps_, ElementsAre(1000ms));

    const auto select = portal_.requestsTo(kSelectTaxpayer);
    ASSERT_EQ(select.size(), 1u);
    EXPECT_EQ(select[0].body, R"({"tin":1001})");
    EXPECT_EQ(select[0].header("Content-Type"), "application/json");
    EXPECT_EQ(select[0].header("Accept"), "application/json, text/plain, */*");
    EXPECT_EQ(select[0].header("Origin"), "https://portal.nra.bg");
    EXPECT_EQ(select[0].header("Referer"), "https://portal.nra.bg/");
    EXPECT_EQ(select[0].header("X-Requested-With"), "XMLHttpRequest");
    EXPECT_TRUE(select[0].cookie(test::FakeAgency::kSessionCookie));

    // The cookies follow: the service select carries the taxpayer's, the
    // pages after it the service's too.
    const auto service = portal_.requestsTo(kSelectService + "101");
    ASSERT_EQ(service.size(), 1u);
    EXPECT_EQ(service[0].header("Accept"), "application/json");
    EXPECT_EQ(service[0].cookie("selectedContext"), "MTAwMQ==");  // "1001"
    EXPECT_EQ(service[0].cookie("tpId"), "dHJ1ZQ==");
    EXPECT_EQ(service[0].cookie("loggedIn"), "dHJ1ZQ==");
    EXPECT_NE(service[0].clientPort, select[0].clientPort);  // a fresh connection

    const auto details = portal_.requestsTo("/details/dept-and-payments-report");
    ASSERT_EQ(details.size(), 1u);
    EXPECT_EQ(details[0].cookie("selectedServiceId"), "MTAx");  // "101"
    EXPECT_EQ(details[0].cookie("selectedContext"), "MTAwMQ==");
    EXPECT_EQ(details[0].header("Accept").value_or("").rfind("text/html", 0), 0u);
    const auto entry = portal_.requestsTo("/auth/entrypoint");
    EXPECT_EQ(entry.back().query, "redirectUrl=https://portal.nra.bg/home.html&lang=bg");
    EXPECT_EQ(entry.back().cookie("selectedServiceId"), "MTAx");

    // In this order after the login.
    std::vector<std::string> paths;
    for (const auto& r : portal_.requests()) {
        paths.push_back(r.path);
    }
    const auto afterLogin = std::find(paths.begin(), paths.end(), kSelectTaxpayer) - 2;
    EXPECT_THAT(std::vector<std::string>(afterLogin, paths.end()),
                ElementsAre("/api/base/taxpayers", "/api/base/taxpayers", kSelectTaxpayer, "/auth/users/me",
                            "/api/base/categories", kSelectService + "101", "/auth/entrypoint", "/home.html",
                            "/details/dept-and-payments-report", "/home.html"));

    EXPECT_EQ(log.count("INFO", "NapSession::selectTaxpayer: избор на ЗЛ 123456789"), 1);
    EXPECT_EQ(log.count("INFO", "NapSession::httpSelectTaxpayer: HTTP 200"), 1);
    EXPECT_EQ(log.count("INFO", "NapSession::httpSelectTaxpayer: session cookies installed"), 1);
    EXPECT_EQ(log.count("INFO", R"(NapSession::httpSelectService: HTTP 200 (body=17B): {"selected":true})"),
              1);
    EXPECT_EQ(log.count("INFO",
                        "NapSession::markSessionActiveInUi: fresh /auth/entrypoint HTTP 200 (effective="
                        "https://portal.nra.bg/home.html)"),
              1);
    EXPECT_EQ(log.count("INFO",
                        "NapSession::markSessionActiveInUi: GET "
                        "https://portal.nra.bg/details/dept-and-payments-report HTTP 200"),
              1);
    EXPECT_EQ(log.count("INFO", "NapSession::markSessionActiveInUi: GET /home.html HTTP 200"), 1);
    EXPECT_EQ(
        log.count("INFO", "NapSession::selectService: услуга Справка за задължения и плащания (id=101)"), 1);
    EXPECT_EQ(log.count("INFO", "NapSession::selectSystem: systemId=3"), 1);
    for (const std::string& line : log.stop()) {
        EXPECT_THAT(line, Not(HasSubstr(test::FakeAgency::kSessionValuePrefix)));
        EXPECT_THAT(line, Not(HasSubstr("csrf-")));
    }
}

TEST_F(NapSessionSelectionTest, LaterPreparationsReuseLoginAndCachesButSelectAgain) {
    ASSERT_TRUE(session_.prepareFor(payments_, kCompanyEik, 0));
    portal_.clearRequests();
    ASSERT_TRUE(session_.prepareFor(payments_, kCompanyEik, 0));
    EXPECT_EQ(agency_.sessionsOpened(), 1);
    EXPECT_EQ(count("/api/base/taxpayers"), 1u);  // the probe only
    EXPECT_EQ(count("/api/base/categories"), 0u);
    EXPECT_EQ(count(kSelectTaxpayer), 1u);
    EXPECT_EQ(count(kSelectService + "101"), 1u);
    EXPECT_THAT(sleeps_, ElementsAre(1000ms, 1000ms));
}

TEST_F(NapSessionSelectionTest, YearParameterChoosesBetweenSubmitAndReportLinks) {
    struct Case {
        std::optional<std::string> year;
        std::string linkId;
    };
    const std::vector<Case> cases = {
        {"2025.000000", "732"},  // a JSON number as the engine passes it
        {"2024", "733"},        {" +2025", "732"},      {std::nullopt, "731"},
        {"abc", "731"},         {"99999999999", "731"},  // beyond 32 bits: none
        {"0", "731"},
    };
    for (const Case& c : cases) {
        operations::ParamMap params{{"eik", kCompanyEik}};
        if (c.year) {
            params["year"] = *c.year;
        }
        const std::optional<ServiceLink> link = session_.prepareFromParams(income73_, params);
        ASSERT_TRUE(link) << c.year.value_or("none") << ": " << session_.lastError();
        EXPECT_EQ(link->id, c.linkId) << c.year.value_or("none");
    }
    EXPECT_EQ(session_.systemId(), 12);
}

TEST_F(NapSessionSelectionTest, MissingEikStopsBeforeAnyRequest) {
    for (const operations::ParamMap& params : {operations::ParamMap{}, operations::ParamMap{{"eik", ""}}}) {
        EXPECT_FALSE(session_.prepareFromParams(payments_, params));
        EXPECT_EQ(session_.lastError(), "Липсва задължителен параметър eik");
    }
    EXPECT_TRUE(portal_.requests().empty());
    EXPECT_TRUE(login_.requests().empty());
}

TEST_F(NapSessionSelectionTest, EachFailingStepLeavesItsReason) {
    const std::string noLinkCatalogue =
        R"([{"services":[{"name":"info-only","links":[{"id":"1","name":"x","i18nName":"Информация"}]}]}])";
    struct Case {
        const char* name;
        std::function<void()> arrange;
        test::TestPortalHandler handler;
        std::int32_t year;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"login refused", [&] { portal_.on("GET", "/api/base/taxpayers", Reply::json(401, "{}")); },
         payments_, 0, "validation returned HTTP 401"},
        {"unknown EIK", [] {}, test::TestPortalHandler("dept-and-payments-report"), -1,
         "Фирма с избрания ЕИК не е намерена в списъка на задължените лица (налични задължени лица: 2)"},
        {"select refused", [&] { portal_.on("POST", kSelectTaxpayer, Reply::json(500, "{}")); }, payments_, 0,
         "Неуспешен избор на ЗЛ 123456789"},
        {"unknown service", [] {}, test::TestPortalHandler("no-such-service"), 0,
         "Услуга 'no-such-service' не е намерена в каталога"},
        {"no submit link for the year", [] {}, test::TestPortalHandler("dec1-and-6"), 2024,
         "Не е намерен линк за 'dec1-and-6' за година 2024"},
        {"no report link", [&] { agency_.setCatalogueJson(noLinkCatalogue); },
         test::TestPortalHandler("info-only"), 0, "Не е намерен линк за 'info-only'"},
    };
    for (const Case& c : cases) {
        agency_.script();
        agency_.expireSessions();
        NapSession::resetProcessCachesForTests();
        c.arrange();
        const std::string eik = c.year < 0 ? "000000000" : kCompanyEik;
        EXPECT_FALSE(session_.prepareFor(c.handler, eik, std::max(c.year, 0))) << c.name;
        EXPECT_EQ(session_.lastError(), c.error) << c.name;
    }
}

TEST_F(NapSessionSelectionTest, SelectReplyThatIsNotJsonSelectsNothing) {
    ASSERT_TRUE(session_.login());
    portal_.on("POST", kSelectTaxpayer, Reply::text(200, "<html>"));
    portal_.clearRequests();
    test::LogCapture log;
    EXPECT_FALSE(session_.selectTaxpayer(kCompanyEik));
    EXPECT_EQ(session_.lastError(), "Неуспешен избор на ЗЛ 123456789");
    EXPECT_EQ(log.count("WARN", "NapSession::httpSelectTaxpayer parse: "), 1);
    EXPECT_FALSE(session_.selectedTaxpayer());
    EXPECT_THAT(session_.cookieJarText(), Not(HasSubstr("selectedContext")));
    EXPECT_EQ(count("/auth/users/me"), 0u);
    EXPECT_TRUE(sleeps_.empty());
}

TEST_F(NapSessionSelectionTest, SelectReplyNamesTheSelectedTaxpayer) {
    ASSERT_TRUE(session_.login());
    portal_.on("POST", kSelectTaxpayer, Reply::json(200, R"({"tin":2002,"pin":123,"tpId":5.5})"));
    ASSERT_TRUE(session_.selectTaxpayer(kCompanyEik));
    EXPECT_EQ(session_.selectedTaxpayer()->tin, 2002);
    EXPECT_EQ(session_.selectedTaxpayer()->pin, "123");
    EXPECT_EQ(session_.selectedTaxpayer()->tpId, "5.500000");
    EXPECT_THAT(session_.cookieJarText(), HasSubstr("\tselectedContext\tMjAwMg==\n"));  // "2002"
}

TEST_F(NapSessionSelectionTest, RefusedServiceSelectIsRetriedOnceWithTheNewCookies) {
    agency_.queueServiceSelectStatuses({401});
    test::LogCapture log;
    const std::optional<ServiceLink> link = session_.prepareFor(payments_, kCompanyEik, 0);
    ASSERT_TRUE(link) << session_.lastError();
    const auto selects = portal_.requestsTo(kSelectService + "101");
    ASSERT_EQ(selects.size(), 2u);
    EXPECT_EQ(selects[1].cookie("WAF"), "w1");
    EXPECT_EQ(agency_.sessionsOpened(), 1);
    EXPECT_THAT(sleeps_, ElementsAre(1000ms, 1000ms));  // the taxpayer's, the retry's
    EXPECT_EQ(log.count("INFO",
                        "NapSession::httpSelectService: HTTP 401 — retrying with cookies the response "
                        "installed"),
              1);
    EXPECT_EQ(log.count("WARN", "re-authenticating"), 0);
}

TEST_F(NapSessionSelectionTest, StillRefusedServiceSelectLogsInAgainAndRestoresTheTaxpayer) {
    agency_.queueServiceSelectStatuses({405, 405, 405, 405});
    test::LogCapture log;
    const std::optional<ServiceLink> link = session_.prepareFor(payments_, kCompanyEik, 0);
    ASSERT_TRUE(link) << session_.lastError();
    EXPECT_EQ(link->id, "101");
    EXPECT_EQ(agency_.sessionsOpened(), 2);
    // Four attempts in the ladder, then the selection once more in the
    // restored taxpayer context.
    EXPECT_EQ(count(kSelectService + "101"), 5u);
    const auto selects = portal_.requestsTo(kSelectTaxpayer);
    ASSERT_EQ(selects.size(), 2u);
    EXPECT_NE(selects[1].cookie(test::FakeAgency::kSessionCookie),
              selects[0].cookie(test::FakeAgency::kSessionCookie));
    ASSERT_TRUE(session_.selectedTaxpayer());
    EXPECT_EQ(session_.selectedTaxpayer()->tin, 1001);
    EXPECT_EQ(portal_.requestsTo("/details/dept-and-payments-report").back().cookie("selectedContext"),
              "MTAwMQ==");
    EXPECT_EQ(session_.systemId(), 3);
    EXPECT_THAT(sleeps_, ElementsAre(1000ms, 1000ms, 2000ms, 1000ms, 1000ms));

    EXPECT_EQ(
        log.count("WARN",
                  "NapSession::httpSelectService: still HTTP 405 after plain retry — re-authenticating"),
        1);
    EXPECT_EQ(log.count("INFO", "NapSession::httpSelectService: post-login HTTP 405 — WAF bootstrap retry"),
              1);
    EXPECT_EQ(log.count("INFO", "NapSession::httpSelectService: HTTP 405 (body=2B): {}"), 1);
}

TEST_F(NapSessionSelectionTest, FailedReLoginInTheLadderGivesNoLink) {
    ASSERT_TRUE(session_.ensureLoggedIn());
    // From now on the login host sends no usable code back.
    login_.on("GET", "/auth/login/qes", Reply::redirect("https://portal.nra.bg/auth/callback?code=bad"));
    agency_.queueServiceSelectStatuses({401, 401});
    test::LogCapture log;
    EXPECT_FALSE(session_.prepareFor(payments_, kCompanyEik, 0));
    EXPECT_EQ(session_.lastError(), "validation returned HTTP 401");
    EXPECT_EQ(count(kSelectService + "101"), 2u);
    EXPECT_EQ(count("/details/dept-and-payments-report"), 0u);
    EXPECT_THAT(sleeps_, ElementsAre(1000ms, 1000ms));
    EXPECT_EQ(
        log.count("ERROR", "NapSession::httpSelectService: re-login failed: validation returned HTTP 401"),
        1);
    EXPECT_EQ(log.count("INFO", "NapSession::httpSelectService: HTTP 401 (body=2B): {}"), 1);
}

TEST_F(NapSessionSelectionTest, ServiceCookieIsSetWhateverTheStatus) {
    agency_.queueServiceSelectStatuses({500});
    const std::optional<ServiceLink> link = session_.prepareFor(payments_, kCompanyEik, 0);
    ASSERT_TRUE(link);
    EXPECT_EQ(count(kSelectService + "101"), 1u);
    EXPECT_THAT(session_.cookieJarText(),
                HasSubstr("portal.nra.bg\tFALSE\t/\tFALSE\t0\tselectedServiceId\tMTAx\n"));
}

TEST_F(NapSessionSelectionTest, SystemIdComesFromTheLinkOrDefaultsToFive) {
    const std::vector<std::pair<std::optional<std::string>, std::int32_t>> cases = {
        {"12", 12}, {"12abc", 12}, {" 7", 7}, {"abc", 5}, {"", 5}, {std::nullopt, 5}, {"99999999999", 5},
    };
    for (const auto& [property, expected] : cases) {
        ServiceLink link;
        if (property) {
            link.props["systemId"] = *property;
        }
        test::LogCapture log;
        session_.selectSystem(link);
        EXPECT_EQ(session_.systemId(), expected) << property.value_or("missing");
        EXPECT_EQ(log.count("INFO", "NapSession::selectSystem: systemId=" + std::to_string(expected)), 1);
    }
    EXPECT_TRUE(portal_.requests().empty());
}

}  // namespace
}  // namespace velk::core::infra::portal
