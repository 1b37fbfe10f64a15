// The OpenSSL pkcs11 engine is process-wide and SoftHSM reads its
// configuration once: one token for the executable, its tests in order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/agency/FakeAgency.h"
#include "infrastructure/portal/NapSession.h"
#include "portal_session/TestPortalHandler.h"
#include "support/SoftHsmToken.h"

namespace velk::core::infra::portal {
namespace {

using namespace std::chrono_literals;

const std::vector<std::uint8_t> kCkaId = {0x01};

class NapSessionPkcs11Test : public testing::Test {
protected:
    static void SetUpTestSuite() {
        home_ = new test::IsolatedHome;
        hosts_ = new test::LoopbackHosts;
        agency_ = new test::FakeAgency(*hosts_);
        token_ = new test::SoftHsmToken;
        token_->addIdentity(hosts_->pki().issue(), kCkaId);
        module_ = new test::ScopedEnv("VELK_PKCS11_MODULE", test::SoftHsmToken::modulePath());
        session_ = new NapSession([](std::chrono::milliseconds wait) { sleeps_.push_back(wait); });
        SessionIdentity identity;
        identity.certificateId = token_->certificateId(kCkaId);
        session_->configure(identity);
        NapSession::resetProcessCachesForTests();
    }
    static void TearDownTestSuite() {
        NapSession::resetProcessCachesForTests();
        delete session_;
        delete module_;
        delete token_;
        delete agency_;
        delete hosts_;
        delete home_;
    }

    static test::IsolatedHome* home_;
    static test::LoopbackHosts* hosts_;
    static test::FakeAgency* agency_;
    static test::SoftHsmToken* token_;
    static test::ScopedEnv* module_;
    static NapSession* session_;
    static std::vector<std::chrono::milliseconds> sleeps_;
};

test::IsolatedHome* NapSessionPkcs11Test::home_ = nullptr;
test::LoopbackHosts* NapSessionPkcs11Test::hosts_ = nullptr;
test::FakeAgency* NapSessionPkcs11Test::agency_ = nullptr;
test::SoftHsmToken* NapSessionPkcs11Test::token_ = nullptr;
test::ScopedEnv* NapSessionPkcs11Test::module_ = nullptr;
NapSession* NapSessionPkcs11Test::session_ = nullptr;
std::vector<std::chrono::milliseconds> NapSessionPkcs11Test::sleeps_;

// First: once the token accepted a PIN, the engine stays logged in.
TEST_F(NapSessionPkcs11Test, WrongPinFailsAndANewPinGetsANewClient) {
    session_->setPin(session_->identity().certificateId, "0000");
    EXPECT_FALSE(session_->ensureLoggedIn());
    EXPECT_THAT(session_->lastError(),
                testing::HasSubstr("(Оригинално: Problem with the local SSL certificate)"));

    session_->setPin(session_->identity().certificateId, token_->userPin());
    EXPECT_TRUE(session_->ensureLoggedIn()) << session_->lastError();
    EXPECT_EQ(agency_->sessionsOpened(), 1);
    const auto qes = agency_->login().requestsTo("/auth/login/qes");
    ASSERT_FALSE(qes.empty());
    EXPECT_EQ(qes.back().clientCertSubject.rfind("CN=Иван Петров Иванов", 0), 0u)
        << qes.back().clientCertSubject;
}

TEST_F(NapSessionPkcs11Test, TokenSessionIsReusedAndRenewedWhenItExpires) {
    session_->setPin(session_->identity().certificateId, token_->userPin());
    ASSERT_TRUE(session_->ensureLoggedIn());
    const int opened = agency_->sessionsOpened();
    ASSERT_TRUE(session_->ensureLoggedIn());
    EXPECT_EQ(agency_->sessionsOpened(), opened);

    agency_->expireSessions();
    test::TestPortalHandler payments("dept-and-payments-report", "", "dept-and-payments-report-1");
    const std::optional<ServiceLink> link = session_->prepareFor(payments, "123456789", 0);
    ASSERT_TRUE(link) << session_->lastError();
    EXPECT_EQ(link->id, "101");
    EXPECT_EQ(agency_->sessionsOpened(), opened + 1);
    EXPECT_EQ(sleeps_.back(), 1000ms);
}

}  // namespace
}  // namespace velk::core::infra::portal
