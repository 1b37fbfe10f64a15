#include <gtest/gtest.h>

#include <curl/curl.h>

#include "fakes/FakeCertStore.h"
#include "fakes/LoopbackHosts.h"
#include "infrastructure/http/HttpClient.h"
#include "platform/ProviderPinCache.h"
#include "support/CertStoreFolder.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace velk::core::infra::http {
namespace {

using platform::PinAnswer;
using platform::PinRequest;
using platform::ProviderPinCache;
using test::Reply;

constexpr const char* kLoginUrl = "https://login.nra.bg/auth/login/qes";

// A login host that demands a client certificate, and the user's certificate
// in the certificate store, its key locked by a PIN.
class StoreCertificateTlsTest : public testing::Test {
protected:
    StoreCertificateTlsTest() : login_(hosts_.add("login.nra.bg", true)) {
        login_.on("GET", "/auth/login/qes", Reply::text(200, "welcome"));
        test::CertificateSpec certSpec;
        certSpec.commonName = "Мария Иванова";
        user_ = hosts_.pki().issue(certSpec);
        store_.add("user", user_, "4321", true);
    }
    void SetUp() override { ProviderPinCache::clear(); }
    void TearDown() override {
        ProviderPinCache::clear();
        ProviderPinCache::setPrompt({});
    }

    HttpResponse login(const std::string& certificateId) {
        return HttpClient::forPortal(certificateId, "")->get(kLoginUrl, {});
    }

    test::IsolatedHome home_;
    test::FakeCertStore store_;
    test::LoopbackHosts hosts_;
    test::TestServer& login_;
    test::TestIdentity user_;
};

TEST_F(StoreCertificateTlsTest, HandshakePresentsTheCertificateWithTheCachedPin) {
    ProviderPinCache::remember(user_.thumbprint(), "4321");
    test::LogCapture log;

    const HttpResponse response = login(user_.thumbprint());

    EXPECT_EQ(response.error, "");
    EXPECT_EQ(response.status, 200);
    const auto seen = login_.requestsTo("/auth/login/qes");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_NE(seen[0].clientCertSubject.find("CN=Мария Иванова"), std::string::npos)
        << seen[0].clientCertSubject;
    EXPECT_EQ(seen[0].header("Host"), "login.nra.bg");
    EXPECT_EQ(log.count("INFO", "HttpClient: SChannel cert path = CurrentUser\\MY\\" + user_.thumbprint()),
              1);
    for (const std::string& line : log.stop()) {
        EXPECT_EQ(line.find("4321"), std::string::npos) << line;
    }
}

TEST_F(StoreCertificateTlsTest, WithoutACachedPinTheProviderAsksOnceAndCachesIt) {
    int asked = 0;
    ProviderPinCache::setPrompt([&](const PinRequest& request) {
        ++asked;
        EXPECT_EQ(request.certificateId, user_.thumbprint());
        return PinAnswer{platform::kStatusOk, "4321"};
    });

    auto http = HttpClient::forPortal(user_.thumbprint(), "");
    EXPECT_EQ(http->get(kLoginUrl, {}).status, 200);
    EXPECT_EQ(http->getFresh(kLoginUrl, {}).status, 200);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(ProviderPinCache::lookup(user_.thumbprint()), "4321");
}

TEST_F(StoreCertificateTlsTest, KeyWithoutPinNeedsNone) {
    const test::TestIdentity plain = hosts_.pki().issue();
    store_.add("plain", plain, "", false);
    EXPECT_EQ(login(plain.thumbprint()).status, 200);
}

TEST_F(StoreCertificateTlsTest, ExportedFileWithCompanionPresentsItsCertificateOnceThePinIsTyped) {
    test::CertificateSpec certSpec;
    certSpec.commonName = "Петър Стоянов";
    const test::TestIdentity exported = hosts_.pki().issue(certSpec);
    const test::CertStoreFolder folder;
    folder.addExported("exported", exported, "2468");
    folder.addCompanion("exported", ".crt", exported, test::CertStoreFolder::Encoding::Pem);
    int asked = 0;
    ProviderPinCache::setPrompt([&](const PinRequest&) {
        ++asked;
        return PinAnswer{platform::kStatusOk, "2468"};
    });

    const HttpResponse response = login(exported.thumbprint());

    EXPECT_EQ(response.error, "");
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(asked, 1);
    const auto seen = login_.requestsTo("/auth/login/qes");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_NE(seen[0].clientCertSubject.find("CN=Петър Стоянов"), std::string::npos)
        << seen[0].clientCertSubject;
}

// As older Windows versions and browsers export (`openssl pkcs12 -export
// -legacy`: RC2-40 certificates, 3DES key, SHA-1 MAC), its companion made by
// the command the user is told.
TEST_F(StoreCertificateTlsTest, OlderExportPresentsItsCertificateWithThePinAskedOnce) {
    test::CertificateSpec certSpec;
    certSpec.commonName = "Петър Стоянов";
    const test::TestIdentity exported = hosts_.pki().issue(certSpec);
    const test::CertStoreFolder folder;
    folder.addExported("older", exported, "2468", {"-legacy"});
    ASSERT_EQ(folder.extractCompanion("older", "2468", {"-legacy"}), 0);
    std::string typed = "1357";
    int asked = 0;
    ProviderPinCache::setPrompt([&](const PinRequest&) {
        ++asked;
        return PinAnswer{platform::kStatusOk, typed};
    });
    test::LogCapture log;

    const HttpResponse wrong = login(exported.thumbprint());
    EXPECT_EQ(wrong.status, 0);
    EXPECT_EQ(wrong.keyPinRefusal, KeyPinRefusal::WrongPin);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(login_.requests().empty());

    typed = "2468";
    const HttpResponse first = login(exported.thumbprint());
    EXPECT_EQ(first.error, "");
    EXPECT_EQ(first.status, 200);
    EXPECT_EQ(asked, 2);
    // A later client takes the PIN the key accepted.
    EXPECT_EQ(login(exported.thumbprint()).status, 200);
    EXPECT_EQ(asked, 2);

    const auto seen = login_.requestsTo("/auth/login/qes");
    ASSERT_EQ(seen.size(), 2u);
    for (const auto& request : seen) {
        EXPECT_NE(request.clientCertSubject.find("CN=Петър Стоянов"), std::string::npos)
            << request.clientCertSubject;
    }
    EXPECT_EQ(log.count("WARN", "CertStore"), 0);
    for (const std::string& line : log.stop()) {
        EXPECT_EQ(line.find("2468"), std::string::npos) << line;
    }
}

// The store is read again for a handshake while the certificate is missing:
// one added meanwhile is used by the same client, without a restart.
TEST_F(StoreCertificateTlsTest, CertificateAddedToTheStoreIsUsedByTheNextTransfer) {
    test::CertificateSpec certSpec;
    certSpec.commonName = "Петър Стоянов";
    const test::TestIdentity exported = hosts_.pki().issue(certSpec);
    const test::CertStoreFolder folder;
    folder.addExported("exported", exported, "2468");
    ProviderPinCache::remember(exported.thumbprint(), "2468");
    auto http = HttpClient::forPortal(exported.thumbprint(), "");

    const HttpResponse missing = http->get(kLoginUrl, {});
    EXPECT_EQ(missing.status, 0);
    EXPECT_EQ(missing.error, curl_easy_strerror(CURLE_SSL_CERTPROBLEM));

    ASSERT_EQ(folder.extractCompanion("exported", "2468"), 0);
    const HttpResponse added = http->getFresh(kLoginUrl, {});
    EXPECT_EQ(added.error, "");
    EXPECT_EQ(added.status, 200);
    const auto seen = login_.requestsTo("/auth/login/qes");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_NE(seen[0].clientCertSubject.find("CN=Петър Стоянов"), std::string::npos)
        << seen[0].clientCertSubject;
}

TEST_F(StoreCertificateTlsTest, UnusableKeyFailsAsALocalCertificateProblem) {
    const std::string certProblem = curl_easy_strerror(CURLE_SSL_CERTPROBLEM);
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::string certificateId;
        KeyPinRefusal refusal;  // what the response tells beyond libcurl's text
    };
    const std::vector<Case> cases = {
        {"wrong cached PIN", [&] { ProviderPinCache::remember(user_.thumbprint(), "0000"); },
         user_.thumbprint(), KeyPinRefusal::WrongPin},
        {"wrong PIN typed",
         [&] {
             ProviderPinCache::setPrompt([](const PinRequest&) {
                 return PinAnswer{platform::kStatusOk, "9"};
             });
         },
         user_.thumbprint(), KeyPinRefusal::WrongPin},
        {"prompt cancelled", [] {}, user_.thumbprint(), KeyPinRefusal::Cancelled},
        {"not in the store", [] {}, std::string(40, 'A'), KeyPinRefusal::None},
        {"another store", [] {}, "LocalMachine\\MY\\" + user_.thumbprint(), KeyPinRefusal::None},
    };
    for (const Case& c : cases) {
        ProviderPinCache::clear();
        ProviderPinCache::setPrompt({});
        c.arrange();
        const HttpResponse response = login(c.certificateId);
        EXPECT_EQ(response.status, 0) << c.name;
        EXPECT_EQ(response.error, certProblem) << c.name;
        EXPECT_EQ(response.keyPinRefusal, c.refusal) << c.name;
        // A refused PIN is not kept for the next handshake.
        EXPECT_EQ(ProviderPinCache::lookup(user_.thumbprint()), std::nullopt) << c.name;
    }
    EXPECT_TRUE(login_.requests().empty());
}

}  // namespace
}  // namespace velk::core::infra::http
