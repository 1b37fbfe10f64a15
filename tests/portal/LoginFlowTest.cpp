#include "infrastructure/portal/LoginFlow.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "fakes/FakeCertStore.h"
#include "fakes/agency/FakeAgency.h"
#include "infrastructure/signing/InvalidPinException.h"
#include "infrastructure/signing/SignerWin.h"
#include "platform/ProviderPinCache.h"
#include "support/LogCapture.h"

namespace velk::core::infra::portal {
namespace {

using namespace std::chrono_literals;
using platform::ProviderPinCache;
using test::Reply;

constexpr const char* kPin = "4321";
constexpr const char* kSessionValue = test::FakeAgency::kSessionValuePrefix;
const std::string kSmartCardHint =
    "Сертификатът за КЕП не е достъпен. Проверете че смарт картата е поставена в четеца и драйверите са "
    "активни. "
    "(Оригинално: ";

// The agency's login on loopback, and the user's certificate in the store.
class LoginFlowTest : public testing::Test {
protected:
    LoginFlowTest() { certificateId_ = store_.add("user", hosts_.pki().issue(), kPin, true); }
    void SetUp() override { ProviderPinCache::remember(certificateId_, kPin); }
    void TearDown() override { ProviderPinCache::clear(); }

    std::unique_ptr<http::HttpClient> portalClient(
        std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
        http::HttpClientOptions options;
        options.clientCertId = certificateId_;
        options.timeout = timeout;
        return http::HttpClient::create(std::move(options));
    }

    test::IsolatedHome home_;
    test::FakeCertStore store_;
    test::LoopbackHosts hosts_;
    test::FakeAgency agency_{hosts_};
    test::TestServer& portal_ = agency_.portal();
    test::TestServer& login_ = agency_.login();
    std::string certificateId_;
};

TEST_F(LoginFlowTest, CertificateLoginLeavesALiveSessionInTheJar) {
    auto http = http::HttpClient::forPortal(certificateId_, "");
    EXPECT_FALSE(LoginFlow::isSessionAlive(*http));
    portal_.clearRequests();
    test::LogCapture log;

    LoginFlow flow(http.get(), nullptr, certificateId_, {});
    ASSERT_TRUE(flow.run());
    EXPECT_EQ(flow.error(), "");
    EXPECT_TRUE(LoginFlow::isSessionAlive(*http));

    const auto entry = portal_.requestsTo("/auth/entrypoint");
    ASSERT_EQ(entry.size(), 1u);
    EXPECT_EQ(entry[0].query, "redirectUrl=https://portal.nra.bg/home.html&lang=bg");
    EXPECT_EQ(entry[0].header("Host"), "portal.nra.bg");
    const auto qes = login_.requestsTo("/auth/login/qes");
    ASSERT_EQ(qes.size(), 1u);
    EXPECT_EQ(qes[0].clientCertSubject.rfind("CN=Иван Петров Иванов", 0), 0u) << qes[0].clientCertSubject;
    const auto probe = portal_.requestsTo("/api/base/taxpayers");
    ASSERT_FALSE(probe.empty());
    EXPECT_EQ(probe[0].header("Accept"), "application/json");
    EXPECT_EQ(probe[0].header("Origin"), "https://portal.nra.bg");
    EXPECT_EQ(probe[0].header("Referer"), "https://portal.nra.bg/home.html");

    EXPECT_EQ(log.count("INFO", "LoginFlow: starting QES (КЕП) login sequence"), 1);
    EXPECT_EQ(log.count("INFO", "LoginFlow: QES login succeeded"), 1);
    // The jar is listed, one Netscape line per cookie, with the values masked.
    const auto& lines = log.stop();
    const auto listed = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("LoginFlow: cookies after OAuth:") != std::string::npos;
    });
    ASSERT_NE(listed, lines.end());
    const std::vector<std::string> jar(listed + 1, listed + 4);
    EXPECT_THAT(jar, testing::UnorderedElementsAre("portal.nra.bg\tFALSE\t/\tFALSE\t0\tENTRY\t***",
                                                   "#HttpOnly_portal.nra.bg\tFALSE\t/\tTRUE\t0\tSESSION\t***",
                                                   "login.nra.bg\tFALSE\t/\tFALSE\t0\tLOGIN\t***"));
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find(kSessionValue), std::string::npos) << line;
    }
}

TEST_F(LoginFlowTest, StatusesOfEntryPointAndCertificateLoginAreNotJudged) {
    portal_.on("GET", "/auth/entrypoint", Reply::text(500, "down"));
    login_.on("GET", "/auth/login/qes", Reply::text(503, "busy"));
    portal_.on("GET", "/api/base/taxpayers", Reply::json(200, "[]"));

    auto http = portalClient();
    LoginFlow flow(http.get(), nullptr, certificateId_, {});
    EXPECT_TRUE(flow.run());
    EXPECT_EQ(flow.error(), "");
}

TEST_F(LoginFlowTest, FailuresLeaveAReasonForTheUser) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::string error;
        std::string logged;  // the ERROR line
        // The request that is never answered in time, and the host it goes to.
        const char* slowPath = nullptr;
        test::TestServer* slowHost = nullptr;
    };
    const std::string timeout = "Timeout was reached";
    const std::string certProblem = "Problem with the local SSL certificate";
    const std::vector<Case> cases = {
        {"session refused", [&] { portal_.on("GET", "/api/base/taxpayers", Reply::json(401, "{}")); },
         "validation returned HTTP 401", "LoginFlow: validation returned HTTP 401"},
        {"probe times out",
         [&] { portal_.on("GET", "/api/base/taxpayers", Reply::json(200, "[]").after(30s)); },
         "validation returned HTTP 0", "LoginFlow: validation returned HTTP 0", "/api/base/taxpayers",
         &portal_},
        {"entry point times out",
         [&] { portal_.on("GET", "/auth/entrypoint", Reply::text(200, "").after(30s)); }, timeout,
         "LoginFlow: entrypoint: " + timeout, "/auth/entrypoint", &portal_},
        {"login host times out",
         [&] { login_.on("GET", "/auth/login/qes", Reply::text(200, "").after(30s)); }, timeout,
         "LoginFlow: qes mTLS: " + timeout, "/auth/login/qes", &login_},
        // libcurl loads the client key for every TLS connection of the client,
        // so a refused PIN already stops the first request. The key's PIN is
        // asked as a token's is, and worded the same when refused.
        {"key refuses the cached PIN", [&] { ProviderPinCache::remember(certificateId_, "0000"); },
         "Грешен PIN код.", "LoginFlow: entrypoint: " + certProblem},
        {"key refuses the PIN typed",
         [&] {
             ProviderPinCache::clear();
             ProviderPinCache::setPrompt([](const platform::PinRequest&) {
                 return platform::PinAnswer{platform::kStatusOk, "0000"};
             });
         },
         "Грешен PIN код.", "LoginFlow: entrypoint: " + certProblem},
        {"PIN prompt cancelled", [&] { ProviderPinCache::clear(); }, "Подписването беше отказано.",
         "LoginFlow: entrypoint: " + certProblem},
        // Only at the login host: the key was there for the portal.
        {"PIN prompt cancelled at the login host",
         [&] {
             portal_.on("GET", "/auth/entrypoint", [](const test::RecordedRequest&) {
                 ProviderPinCache::clear();
                 return Reply::text(200, "");
             });
         },
         "Подписването беше отказано.", "LoginFlow: qes mTLS: " + certProblem},
    };
    for (const Case& c : cases) {
        // A limit short enough that the time-outs cost little; doubled while
        // a busy machine has not even reached the slow request within it.
        for (std::chrono::milliseconds limit = 500ms;; limit *= 2) {
            agency_.script();
            LoginFlowTest::SetUp();
            c.arrange();
            auto http = portalClient(c.slowPath != nullptr ? limit : std::chrono::milliseconds(60s));
            const auto slowBefore = c.slowPath != nullptr ? c.slowHost->requestsTo(c.slowPath).size() : 0;
            test::LogCapture log;
            LoginFlow flow(http.get(), nullptr, certificateId_, {});
            const bool succeeded = flow.run();
            const bool reachedSlowStep =
                c.slowPath == nullptr || c.slowHost->requestsTo(c.slowPath).size() > slowBefore;
            if (!reachedSlowStep && limit < 30s) {
                continue;
            }
            EXPECT_FALSE(succeeded) << c.name;
            EXPECT_EQ(flow.error(), c.error) << c.name;
            EXPECT_EQ(log.count("ERROR", c.logged), 1) << c.name;
            EXPECT_EQ(log.count("INFO", "LoginFlow: QES login succeeded"), 0) << c.name;
            ProviderPinCache::setPrompt({});
            break;
        }
    }
}

TEST(LoginFlowFriendlyError, CertificateWordsBecomeTheSmartCardHint) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Problem with the local SSL certificate",
         kSmartCardHint + "Problem with the local SSL certificate)"},
        {"SSL CERTIFICATE problem", kSmartCardHint + "SSL CERTIFICATE problem)"},
        {"schannel: CertProb 5", kSmartCardHint + "schannel: CertProb 5)"},
        {"Timeout was reached", "Timeout was reached"},
        {"SSL peer certificate or SSH remote key was not OK",
         "SSL peer certificate or SSH remote key was not OK"},
        {"", ""},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(LoginFlow::friendlyError(text), expected) << text;
    }
}

class MockSigner : public signing::ISigner {
public:
    MOCK_METHOD(std::vector<signing::CertificateInfo>, listCertificates, (), (override));
    MOCK_METHOD(signing::Bytes, signData, (const signing::Bytes&, const std::string&, const std::string&),
                (override));
    MOCK_METHOD(bool, warmUp, (const std::string&, const std::string&), (override));
    MOCK_METHOD(signing::Bytes, getCertificateDer, (const std::string&), (override));
};

TEST(LoginFlowWarmUp, PrimesTheKeyWithTheRememberedPinAndNeverFails) {
    using testing::Return;
    using testing::Throw;
    const auto remembered = [] { return std::optional<std::string>("1111"); };
    const auto forgotten = [] { return std::optional<std::string>(); };
    struct Case {
        const char* name;
        bool withSigner;
        std::string certificateId;
        LoginFlow::PinProvider provider;
        std::function<void(MockSigner&)> expect;
        std::string level;  // of the one line logged, "" for none
        std::string line;
    };
    const std::vector<Case> cases = {
        {"no signer", false, "ID", remembered, {}, "", ""},
        {"no certificate", true, "", remembered, {}, "", ""},
        {"no provider", true, "ID", {}, {}, "", ""},
        {"nothing remembered",
         true,
         "ID",
         forgotten,
         {},
         "INFO",
         "LoginFlow: no stored PIN; CSP dialog will prompt user"},
        {"accepted", true, "ID", remembered,
         [](MockSigner& s) { EXPECT_CALL(s, warmUp("ID", "1111")).WillOnce(Return(true)); }, "INFO",
         "LoginFlow: CSP PIN cache primed — handshake will be silent"},
        {"refused", true, "ID", remembered,
         [](MockSigner& s) { EXPECT_CALL(s, warmUp).WillOnce(Return(false)); }, "WARN",
         "LoginFlow: warmUp returned false (likely wrong PIN)"},
        {"throws", true, "ID", remembered,
         [](MockSigner& s) { EXPECT_CALL(s, warmUp).WillOnce(Throw(signing::InvalidPinException())); },
         "WARN", "LoginFlow: warmUp threw: " + std::string(signing::InvalidPinException().what())},
    };
    for (const Case& c : cases) {
        testing::StrictMock<MockSigner> signer;
        if (c.expect) {
            c.expect(signer);
        }
        LoginFlow flow(nullptr, c.withSigner ? &signer : nullptr, c.certificateId, c.provider);
        test::LogCapture log;
        flow.warmUpPin();
        const auto& lines = log.stop();
        if (c.level.empty()) {
            EXPECT_TRUE(lines.empty()) << c.name;
        } else {
            ASSERT_EQ(lines.size(), 1u) << c.name;
            EXPECT_EQ(log.count(c.level, c.line), 1) << c.name;
        }
        testing::Mock::VerifyAndClearExpectations(&signer);
    }
}

TEST_F(LoginFlowTest, StoreSignerWarmUpMakesTheHandshakeSilent) {
    ProviderPinCache::clear();
    int prompts = 0;
    ProviderPinCache::setPrompt([&](const platform::PinRequest&) {
        ++prompts;
        return platform::PinAnswer{};
    });
    signing::SignerWin signer;
    auto http = http::HttpClient::forPortal(certificateId_, "");

    LoginFlow flow(http.get(), &signer, certificateId_, [] { return std::optional<std::string>(kPin); });
    EXPECT_TRUE(flow.run()) << flow.error();
    EXPECT_EQ(prompts, 0);
    ProviderPinCache::setPrompt({});
}

}  // namespace
}  // namespace velk::core::infra::portal
