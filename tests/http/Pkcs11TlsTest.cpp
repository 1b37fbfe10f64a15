// The OpenSSL pkcs11 engine and the PKCS#11 module it loads are process-wide,
// and SoftHSM reads its configuration once: these tests share one token and
// run in their own executable.
#include <gtest/gtest.h>

#include <curl/curl.h>

#include "fakes/LoopbackHosts.h"
#include "infrastructure/http/HttpClient.h"
#include "support/LogCapture.h"
#include "support/SoftHsmToken.h"

namespace velk::core::infra::http {
namespace {

using test::Reply;

constexpr const char* kLoginUrl = "https://login.nra.bg/auth/login/qes";
const std::vector<std::uint8_t> kCkaId = {0x0A, 0x1B};

class Pkcs11TlsTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        hosts_ = new test::LoopbackHosts;
        hosts_->add("login.nra.bg", true).on("GET", "/auth/login/qes", Reply::text(200, "welcome"));
        token_ = new test::SoftHsmToken;
        test::CertificateSpec certSpec;
        certSpec.commonName = "Петър Токенов";
        token_->addIdentity(hosts_->pki().issue(certSpec), kCkaId);
    }
    static void TearDownTestSuite() {
        delete token_;
        delete hosts_;
    }
    void SetUp() override { (*hosts_)["login.nra.bg"].clearRequests(); }

    static std::unique_ptr<HttpClient> client(const std::string& id, const std::string& pin) {
        HttpClientOptions options;
        options.clientCertId = id;
        options.pkcs11ModulePath = test::SoftHsmToken::modulePath();
        options.pkcs11Pin = pin;
        return HttpClient::create(std::move(options));
    }

    static test::LoopbackHosts* hosts_;
    static test::SoftHsmToken* token_;
};

test::LoopbackHosts* Pkcs11TlsTest::hosts_ = nullptr;
test::SoftHsmToken* Pkcs11TlsTest::token_ = nullptr;

// First: a PIN the token accepted earlier in the process would hide a wrong one.
TEST_F(Pkcs11TlsTest, WrongPinFailsAsALocalCertificateProblem) {
    test::LogCapture log;
    const HttpResponse response = client(token_->certificateId(kCkaId), "0000")->get(kLoginUrl, {});
    EXPECT_EQ(response.status, 0);
    EXPECT_EQ(response.error, curl_easy_strerror(CURLE_SSL_CERTPROBLEM));
    EXPECT_TRUE((*hosts_)["login.nra.bg"].requests().empty());
    EXPECT_EQ(log.count("INFO", "HttpClient: PKCS#11 module = " + test::SoftHsmToken::modulePath()), 1);
    EXPECT_EQ(log.count("INFO", "HttpClient: using PKCS#11 engine, cert=slot_" +
                                    std::to_string(token_->slotId()) + "-id_0A1B [PIN set]"),
              1);
    for (const std::string& line : log.stop()) {
        EXPECT_EQ(line.find("0000"), std::string::npos) << line;
    }
}

TEST_F(Pkcs11TlsTest, TokenKeyPassesTheHandshake) {
    test::LogCapture log;
    const HttpResponse response =
        client(token_->certificateId(kCkaId), token_->userPin())->get(kLoginUrl, {});
    EXPECT_EQ(response.error, "");
    EXPECT_EQ(response.status, 200);
    const auto seen = (*hosts_)["login.nra.bg"].requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_NE(seen[0].clientCertSubject.find("CN=Петър Токенов"), std::string::npos)
        << seen[0].clientCertSubject;
    for (const std::string& line : log.stop()) {
        EXPECT_EQ(line.find(token_->userPin()), std::string::npos) << line;
    }
}

TEST_F(Pkcs11TlsTest, UriNamesTheKeyUnchanged) {
    const std::string uri = "pkcs11:token=" + token_->label() + ";id=%0A%1B";
    test::LogCapture log;
    const HttpResponse response = client(uri, token_->userPin())->get(kLoginUrl, {});
    EXPECT_EQ(response.status, 200) << response.error;
    EXPECT_EQ(log.count("INFO", "HttpClient: using PKCS#11 engine, cert=" + uri + " [PIN set]"), 1);
}

TEST_F(Pkcs11TlsTest, EngineLoadsOnceAndKeepsItsFirstModule) {
    client(token_->certificateId(kCkaId), token_->userPin());
    test::LogCapture log;
    HttpClientOptions other;
    other.clientCertId = token_->certificateId(kCkaId);
    other.pkcs11ModulePath = "/nonexistent/other-pkcs11.so";
    const auto second = HttpClient::create(other);

    EXPECT_EQ(log.count("INFO", "HttpClient: pkcs11 engine loaded from"), 0);
    EXPECT_EQ(log.count("WARN", "/nonexistent/other-pkcs11.so"), 1);
    EXPECT_EQ(log.count("INFO", "[no PIN supplied]"), 1);
    // The engine still holds the token's PIN and module.
    EXPECT_EQ(second->get(kLoginUrl, {}).status, 200);
}

}  // namespace
}  // namespace velk::core::infra::http
