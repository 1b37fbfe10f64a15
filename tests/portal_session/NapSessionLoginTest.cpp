#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "portal_session/PortalSessionTest.h"
#include "portal_session/TestPortalHandler.h"
#include "support/CertStoreFolder.h"
#include "support/LogCapture.h"

namespace velk::core::infra::portal {
namespace {

using test::Reply;
using testing::HasSubstr;
using testing::Not;

const std::string kBase = "https://portal.nra.bg";
const std::string kNotActive = "NapSession::ensureLoggedIn: session not active — calling login()";

class NapSessionLoginTest : public PortalSessionTest {
protected:
    std::size_t probes() const { return portal_.requestsTo("/api/base/taxpayers").size(); }
};

TEST_F(NapSessionLoginTest, LogsInOnFirstUseReusesTheSessionAndLogsInAgainWhenItExpired) {
    test::LogCapture log;

    ASSERT_TRUE(session_.ensureLoggedIn()) << session_.lastError();
    EXPECT_EQ(agency_.sessionsOpened(), 1);
    const auto qes = login_.requestsTo("/auth/login/qes");
    ASSERT_EQ(qes.size(), 1u);
    EXPECT_EQ(qes[0].clientCertSubject.rfind("CN=Иван Петров Иванов", 0), 0u) << qes[0].clientCertSubject;

    // Alive: one probe, no login, nothing logged.
    const std::size_t probesBefore = probes();
    ASSERT_TRUE(session_.ensureLoggedIn());
    EXPECT_EQ(probes(), probesBefore + 1);
    EXPECT_EQ(agency_.sessionsOpened(), 1);

    agency_.expireSessions();
    ASSERT_TRUE(session_.ensureLoggedIn()) << session_.lastError();
    EXPECT_EQ(agency_.sessionsOpened(), 2);
    EXPECT_EQ(login_.requestsTo("/auth/login/qes").size(), 2u);
    // The first and the last call; the one that found the session alive is silent.
    EXPECT_EQ(log.count("INFO", kNotActive), 2);

    for (const std::string& line : log.stop()) {
        EXPECT_THAT(line, Not(HasSubstr(test::FakeAgency::kSessionValuePrefix)));
    }
}

TEST_F(NapSessionLoginTest, LoginAddsTheTwoPortalCookiesForTheBareHost) {
    ASSERT_TRUE(session_.login());
    const std::string jar = session_.cookieJarText();
    EXPECT_THAT(jar, HasSubstr("portal.nra.bg\tFALSE\t/\tFALSE\t0\tloggedIn\tdHJ1ZQ==\n"));
    EXPECT_THAT(jar, HasSubstr("portal.nra.bg\tFALSE\t/\tFALSE\t0\tes-onb\tinitial\n"));
    // Later portal requests carry them with the portal's own session.
    session_.httpGet(kBase + "/home.html");
    const auto home = portal_.requestsTo("/home.html").back();
    EXPECT_EQ(home.cookie("loggedIn"), "dHJ1ZQ==");
    EXPECT_EQ(home.cookie("es-onb"), "initial");
    EXPECT_TRUE(home.cookie(test::FakeAgency::kSessionCookie).has_value());
}

TEST_F(NapSessionLoginTest, LoginWithoutCertificateSendsNothing) {
    session_.configure(identity(""));
    test::LogCapture log;
    EXPECT_FALSE(session_.login());
    EXPECT_EQ(session_.lastError(), "Не е избран сертификат (certificateId is empty).");
    EXPECT_EQ(log.count("WARN", "NapSession::login: Не е избран сертификат (certificateId is empty)."), 1);
    EXPECT_TRUE(portal_.requests().empty());
    EXPECT_TRUE(login_.requests().empty());
}

TEST_F(NapSessionLoginTest, FailedLoginKeepsTheFlowsWordsAndTriesAgainNextTime) {
    portal_.on("GET", "/api/base/taxpayers", Reply::json(401, "{}"));
    test::LogCapture log;
    EXPECT_FALSE(session_.ensureLoggedIn());
    EXPECT_EQ(session_.lastError(), "validation returned HTTP 401");
    EXPECT_EQ(log.count("WARN", "NapSession::login failed: validation returned HTTP 401"), 1);

    // Not logged in, so no probe first: straight to the login.
    agency_.script();
    portal_.clearRequests();
    EXPECT_TRUE(session_.ensureLoggedIn());
    EXPECT_EQ(portal_.requests().front().path, "/auth/entrypoint");
    EXPECT_EQ(session_.lastError(), "");
}

// The user's certificate as `openssl pkcs12 -export` makes it, with its
// companion certificate and no sidecar: its key asks for the PIN in the
// handshake, and the user's answer decides how the login ends.
TEST_F(NapSessionLoginTest, PinOfTheStoreKeyRefusedOrCancelledEndsTheLoginWithItsOwnWords) {
    test::CertificateSpec certSpec;
    certSpec.commonName = "Петър Стоянов";
    const test::TestIdentity exported = hosts_.pki().issue(certSpec);
    const test::CertStoreFolder folder;
    folder.addExported("exported", exported, "2468");
    folder.addCompanion("exported", ".crt", exported, test::CertStoreFolder::Encoding::Pem);
    const std::string id = exported.thumbprint();
    session_.configure(identity(id));
    struct PromptReset {
        ~PromptReset() { platform::ProviderPinCache::setPrompt({}); }
    } promptReset;

    struct Case {
        const char* name;
        platform::PinAnswer answer;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"wrong PIN", {platform::kStatusOk, "1357"}, "Грешен PIN код."},
        {"blocked", {platform::kScardWChvBlocked, ""}, "Грешен PIN код."},
        {"cancelled", {platform::kScardWCancelledByUser, ""}, "Подписването беше отказано."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int asked = 0;
        platform::ProviderPinCache::setPrompt([&](const platform::PinRequest&) {
            ++asked;
            return c.answer;
        });
        test::LogCapture log;
        EXPECT_FALSE(session_.ensureLoggedIn());
        EXPECT_EQ(session_.lastError(), c.error);
        EXPECT_EQ(log.count("WARN", "NapSession::login failed: " + c.error), 1);
        EXPECT_EQ(asked, 1);
        // Refused: not kept, so the next login asks again.
        EXPECT_EQ(platform::ProviderPinCache::lookup(id), std::nullopt);
        EXPECT_TRUE(login_.requests().empty());
        for (const std::string& line : log.stop()) {
            EXPECT_THAT(line, Not(HasSubstr("1357")));
        }
    }

    int asked = 0;
    platform::ProviderPinCache::setPrompt([&](const platform::PinRequest&) {
        ++asked;
        return platform::PinAnswer{platform::kStatusOk, "2468"};
    });
    EXPECT_TRUE(session_.ensureLoggedIn()) << session_.lastError();
    EXPECT_EQ(session_.lastError(), "");
    agency_.expireSessions();
    EXPECT_TRUE(session_.ensureLoggedIn()) << session_.lastError();
    // Accepted once, remembered for the rest of the agent's run.
    EXPECT_EQ(asked, 1);
    const auto qes = login_.requestsTo("/auth/login/qes");
    ASSERT_EQ(qes.size(), 2u);
    EXPECT_EQ(qes[0].clientCertSubject.rfind("CN=Петър Стоянов", 0), 0u) << qes[0].clientCertSubject;
}

// The user follows the WARN and writes the companion while the agent runs:
// the next login of the same session presents the certificate.
TEST_F(NapSessionLoginTest, CompanionWrittenAfterAFailedLoginIsUsedByTheNextOne) {
    test::CertificateSpec certSpec;
    certSpec.commonName = "Петър Стоянов";
    const test::TestIdentity exported = hosts_.pki().issue(certSpec);
    const test::CertStoreFolder folder;
    folder.addExported("exported", exported, "2468");
    const std::string id = exported.thumbprint();
    session_.configure(identity(id));
    platform::ProviderPinCache::remember(id, "2468");
    struct PinReset {
        ~PinReset() { platform::ProviderPinCache::clear(); }
    } pinReset;

    EXPECT_FALSE(session_.ensureLoggedIn());
    EXPECT_THAT(session_.lastError(), testing::StartsWith("Сертификатът за КЕП не е достъпен."));
    EXPECT_TRUE(login_.requests().empty());

    ASSERT_EQ(folder.extractCompanion("exported", "2468"), 0);
    EXPECT_TRUE(session_.ensureLoggedIn()) << session_.lastError();
    const auto qes = login_.requestsTo("/auth/login/qes");
    ASSERT_EQ(qes.size(), 1u);
    EXPECT_EQ(qes[0].clientCertSubject.rfind("CN=Петър Стоянов", 0), 0u) << qes[0].clientCertSubject;
}

TEST_F(NapSessionLoginTest, ConfigureKeepsTheSessionUnlessTheCertificateChanges) {
    ASSERT_TRUE(session_.ensureLoggedIn());
    ASSERT_TRUE(session_.selectTaxpayer(kCompanyEik)) << session_.lastError();

    SessionIdentity sameCertificate = identity(certificateId_);
    sameCertificate.apiKey = "api-key-2";
    session_.configure(sameCertificate);
    EXPECT_EQ(session_.identity().apiKey, "api-key-2");
    EXPECT_TRUE(session_.selectedTaxpayer().has_value());
    EXPECT_THAT(session_.cookieJarText(), HasSubstr("\tloggedIn\t"));
    EXPECT_TRUE(session_.ensureLoggedIn());
    EXPECT_EQ(agency_.sessionsOpened(), 1);

    const std::string otherId = addCertificate("other", "Мария Георгиева");
    session_.configure(identity(otherId));
    EXPECT_EQ(session_.cookieJarText(), "");
    EXPECT_FALSE(session_.selectedTaxpayer().has_value());
    EXPECT_EQ(session_.csrfToken(), "");
    ASSERT_TRUE(session_.ensureLoggedIn()) << session_.lastError();
    EXPECT_EQ(agency_.sessionsOpened(), 2);
    EXPECT_EQ(login_.requestsTo("/auth/login/qes").back().clientCertSubject.rfind("CN=Мария Георгиева", 0),
              0u);
}

TEST_F(NapSessionLoginTest, ChangedPinDropsTheClientSoTheNextUseLogsInAgain) {
    ASSERT_TRUE(session_.login());
    session_.setPin(certificateId_, "");  // the stored PIN: nothing changes
    EXPECT_THAT(session_.cookieJarText(), HasSubstr("\tloggedIn\t"));

    session_.setPin(certificateId_, "9999");
    EXPECT_EQ(session_.pin(), "9999");
    EXPECT_EQ(session_.cookieJarText(), "");  // a new client with an empty jar
    test::LogCapture log;
    EXPECT_TRUE(session_.ensureLoggedIn());
    EXPECT_EQ(log.count("INFO", kNotActive), 1);
    EXPECT_EQ(agency_.sessionsOpened(), 2);
}

TEST_F(NapSessionLoginTest, ResetForgetsTheSessionAndKeepsIdentityPinAndLastError) {
    test::TestPortalHandler handler("dept-and-payments-report", "", "dept-and-payments-report-1");
    ASSERT_TRUE(session_.prepareFor(handler, kCompanyEik, 0)) << session_.lastError();
    session_.setPin(certificateId_, "1111");
    ASSERT_TRUE(session_.ensureLoggedIn());
    EXPECT_EQ(session_.findTaxpayerByEik("000"), nullptr);
    const std::string error = session_.lastError();

    session_.reset();
    EXPECT_EQ(session_.cookieJarText(), "");
    EXPECT_FALSE(session_.selectedTaxpayer().has_value());
    EXPECT_EQ(session_.systemId(), 0);
    EXPECT_EQ(session_.csrfToken(), "");
    EXPECT_EQ(session_.lastError(), error);
    EXPECT_EQ(session_.pin(), "1111");
    EXPECT_EQ(session_.identity().certificateId, certificateId_);

    // Not logged in any more: the next use logs in without a probe.
    portal_.clearRequests();
    EXPECT_TRUE(session_.ensureLoggedIn());
    EXPECT_EQ(portal_.requests().front().path, "/auth/entrypoint");
}

TEST_F(NapSessionLoginTest, CsrfTokenComesOnlyAsAStringMember) {
    ASSERT_TRUE(session_.login());
    struct Case {
        const char* name;
        std::optional<Reply> reply;  // none: the agency's own answer
        std::string token;
        std::string level;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"live session", std::nullopt, agency_.csrfToken(), "INFO", "NapSession::refreshCsrfToken: acquired"},
        {"no member", Reply::json(200, R"({"user":"ivan"})"), "", "WARN",
         "NapSession::refreshCsrfToken: failed (HTTP 200)"},
        {"number", Reply::json(200, R"({"_csrf":5})"), "", "WARN",
         "NapSession::refreshCsrfToken: failed (HTTP 200)"},
        {"not JSON", Reply::text(200, "<html>"), "", "WARN",
         "NapSession::refreshCsrfToken: failed (HTTP 200)"},
        {"empty body", Reply::json(204, ""), "", "WARN", "NapSession::refreshCsrfToken: failed (HTTP 204)"},
        {"refused", Reply::json(401, R"({"_csrf":"x"})"), "", "WARN",
         "NapSession::refreshCsrfToken: failed (HTTP 401)"},
    };
    for (const Case& c : cases) {
        agency_.script();
        session_.refreshCsrfToken();  // a token to lose
        if (c.reply) {
            portal_.on("GET", "/auth/users/me", *c.reply);
        }
        test::LogCapture log;
        session_.refreshCsrfToken();
        EXPECT_EQ(session_.csrfToken(), c.token) << c.name;
        EXPECT_EQ(log.count(c.level, c.line), 1) << c.name;
    }
}

TEST_F(NapSessionLoginTest, RequestHelpersForwardWithoutJudging) {
    portal_.on("POST", "/form", [](const test::RecordedRequest& r) {
        return Reply::text(418, "form:" + r.body).header("X-Echo", r.header("X-Test").value_or(""));
    });
    portal_.on("GET", "/bytes", Reply::text(500, std::string("a\0b", 3)));

    const PortalResponse posted = session_.httpPostForm(kBase + "/form", {{"k", "a b"}}, {{"X-Test", "1"}});
    EXPECT_EQ(posted.status, 418);
    EXPECT_EQ(posted.body, "form:k=a%20b");
    EXPECT_EQ(posted.headers.at("X-Echo"), "1");

    const PortalResponse withHeaders = session_.httpGetWithHeaders(kBase + "/home.html", {{"X-Test", "2"}});
    EXPECT_EQ(withHeaders.status, 200);
    EXPECT_EQ(portal_.requestsTo("/home.html").back().header("X-Test"), "2");

    EXPECT_EQ(session_.httpGetBytes(kBase + "/bytes"), (std::vector<std::uint8_t>{'a', 0, 'b'}));
    EXPECT_EQ(session_.httpGet(kBase + "/missing").status, 404);
    // No response at all: status 0, nothing thrown.
    EXPECT_EQ(session_.httpGet("https://127.0.0.1:1/").status, 0);
    EXPECT_TRUE(session_.httpGetBytes("https://127.0.0.1:1/").empty());
}

}  // namespace
}  // namespace velk::core::infra::portal
