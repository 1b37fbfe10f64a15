// The OpenSSL pkcs11 engine is process-wide and SoftHSM reads its
// configuration once: one token for the executable, its tests in order.
#include <gtest/gtest.h>

#include "fakes/agency/FakeAgency.h"
#include "infrastructure/portal/LoginFlow.h"
#include "support/SoftHsmToken.h"

namespace velk::core::infra::portal {
namespace {

const std::vector<std::uint8_t> kCkaId = {0x01};

class LoginFlowPkcs11Test : public testing::Test {
protected:
    static void SetUpTestSuite() {
        hosts_ = new test::LoopbackHosts;
        agency_ = new test::FakeAgency(*hosts_);
        token_ = new test::SoftHsmToken;
        token_->addIdentity(hosts_->pki().issue(), kCkaId);
    }
    static void TearDownTestSuite() {
        delete token_;
        delete agency_;
        delete hosts_;
    }

    static bool login(const std::string& pin, std::string& error) {
        test::ScopedEnv module("VELK_PKCS11_MODULE", test::SoftHsmToken::modulePath());
        auto http = http::HttpClient::forPortal(token_->certificateId(kCkaId), pin);
        LoginFlow flow(http.get(), nullptr, token_->certificateId(kCkaId), {});
        const bool ok = flow.run();
        error = flow.error();
        return ok;
    }

    static test::LoopbackHosts* hosts_;
    static test::FakeAgency* agency_;
    static test::SoftHsmToken* token_;
};

test::LoopbackHosts* LoginFlowPkcs11Test::hosts_ = nullptr;
test::FakeAgency* LoginFlowPkcs11Test::agency_ = nullptr;
test::SoftHsmToken* LoginFlowPkcs11Test::token_ = nullptr;

// First: once the token accepted a PIN, the engine stays logged in.
TEST_F(LoginFlowPkcs11Test, WrongTokenPinGivesTheSmartCardHint) {
    std::string error;
    EXPECT_FALSE(login("0000", error));
    EXPECT_EQ(
        error,
        "Сертификатът за КЕП не е достъпен. Проверете че смарт картата е поставена в четеца и драйверите са "
        "активни. (Оригинално: Problem with the local SSL certificate)");
}

TEST_F(LoginFlowPkcs11Test, TokenKeyLogsIn) {
    std::string error;
    EXPECT_TRUE(login(token_->userPin(), error)) << error;
    const auto qes = agency_->login().requestsTo("/auth/login/qes");
    ASSERT_FALSE(qes.empty());
    EXPECT_FALSE(qes.back().clientCertSubject.empty());
}

}  // namespace
}  // namespace velk::core::infra::portal
