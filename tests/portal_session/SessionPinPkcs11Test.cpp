// The OpenSSL pkcs11 engine is process-wide, and a token stays logged in once
// a login succeeded: these tests need a token nobody logged in to yet, in an
// executable of their own, and run in order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fakes/agency/FakeAgency.h"
#include "infrastructure/portal/NapSession.h"
#include "infrastructure/signing/PinStore.h"
#include "infrastructure/signing/SignerPkcs11.h"
#include "support/SoftHsmToken.h"

namespace velk::core::infra::portal {
namespace {

using signing::PinStore;
using testing::ElementsAre;

const std::vector<std::uint8_t> kCkaId = {0x01};
const std::vector<std::uint8_t> kOtherCkaId = {0x7F};  // no key on the token

// The token's signer, recording the PINs tried on the token.
class RecordingSigner : public signing::ISigner {
public:
    explicit RecordingSigner(signing::ISigner& real) : real_(real) {}

    std::vector<signing::CertificateInfo> listCertificates() override { return real_.listCertificates(); }
    signing::Bytes signData(const signing::Bytes& data, const std::string& certificateId,
                            const std::string& pin) override {
        return real_.signData(data, certificateId, pin);
    }
    bool warmUp(const std::string& certificateId, const std::string& pin) override {
        tried.push_back(pin);
        return real_.warmUp(certificateId, pin);
    }
    signing::Bytes getCertificateDer(const std::string& certificateId) override {
        return real_.getCertificateDer(certificateId);
    }

    std::vector<std::string> tried;

private:
    signing::ISigner& real_;
};

class SessionPinPkcs11Test : public testing::Test {
protected:
    static void SetUpTestSuite() {
        home_ = new test::IsolatedHome;
        hosts_ = new test::LoopbackHosts;
        agency_ = new test::FakeAgency(*hosts_);
        token_ = new test::SoftHsmToken;
        token_->addIdentity(hosts_->pki().issue(), kCkaId);
        module_ = new test::ScopedEnv("VELK_PKCS11_MODULE", test::SoftHsmToken::modulePath());
        signer_ = new signing::SignerPkcs11(test::SoftHsmToken::modulePath());
    }
    static void TearDownTestSuite() {
        NapSession::resetProcessCachesForTests();
        delete signer_;
        delete module_;
        delete token_;
        delete agency_;
        delete hosts_;
        delete home_;
    }

    static SessionIdentity identity(const std::vector<std::uint8_t>& ckaId) {
        SessionIdentity id;
        id.identifier = "123456789";
        id.identifierType = 5;
        id.certificateId = token_->certificateId(ckaId);
        return id;
    }

    static std::unique_ptr<NapSession> newSession() {
        return std::make_unique<NapSession>([](std::chrono::milliseconds) {});
    }

    static test::IsolatedHome* home_;
    static test::LoopbackHosts* hosts_;
    static test::FakeAgency* agency_;
    static test::SoftHsmToken* token_;
    static test::ScopedEnv* module_;
    static signing::SignerPkcs11* signer_;
};

test::IsolatedHome* SessionPinPkcs11Test::home_ = nullptr;
test::LoopbackHosts* SessionPinPkcs11Test::hosts_ = nullptr;
test::FakeAgency* SessionPinPkcs11Test::agency_ = nullptr;
test::SoftHsmToken* SessionPinPkcs11Test::token_ = nullptr;
test::ScopedEnv* SessionPinPkcs11Test::module_ = nullptr;
signing::SignerPkcs11* SessionPinPkcs11Test::signer_ = nullptr;

// A PIN the TLS login would present with every new client, run after run,
// is tried once on the token first; refused, it is forgotten before TLS
// gets it.
TEST_F(SessionPinPkcs11Test, ARefusedPinIsForgottenBeforeTheLoginAndNeverTriedAgain) {
    const std::string certificateId = identity(kCkaId).certificateId;
    ASSERT_TRUE(PinStore::store(certificateId, "0000"));
    RecordingSigner signer(*signer_);
    auto session = newSession();
    session->setSigner(&signer);
    session->configure(identity(kCkaId));  // takes the remembered PIN
    EXPECT_EQ(session->pin(), "0000");

    EXPECT_FALSE(session->ensureLoggedIn());
    EXPECT_EQ(session->lastError(), "Грешен PIN код.");
    EXPECT_EQ(session->pin(), "");
    EXPECT_FALSE(PinStore::get(certificateId).has_value());
    EXPECT_EQ(agency_->sessionsOpened(), 0);

    // The next run finds no PIN to try.
    session = newSession();
    session->setSigner(&signer);
    session->configure(identity(kCkaId));
    EXPECT_EQ(session->pin(), "");
    EXPECT_THAT(signer.tried, ElementsAre("0000"));
}

// The engine keeps the last PIN it was given: a certificate without a PIN of
// its own must not have its token logged in with another certificate's.
TEST_F(SessionPinPkcs11Test, APinGivenForAnotherCertificateNeverLogsThisOneIn) {
    auto session = newSession();
    session->configure(identity(kOtherCkaId));
    session->setPin(identity(kOtherCkaId).certificateId, token_->userPin());
    session->cookieJarText();  // the client, with that PIN handed to the engine

    session->configure(identity(kCkaId));
    EXPECT_EQ(session->pin(), "");
    EXPECT_FALSE(session->ensureLoggedIn());
    EXPECT_EQ(agency_->sessionsOpened(), 0);
}

TEST_F(SessionPinPkcs11Test, TheRememberedPinOfTheNewCertificateLogsItIn) {
    const std::string certificateId = identity(kCkaId).certificateId;
    ASSERT_TRUE(PinStore::store(certificateId, token_->userPin()));
    auto session = newSession();
    session->configure(identity(kOtherCkaId));
    session->setPin(identity(kOtherCkaId).certificateId, "5555");
    session->configure(identity(kCkaId));
    EXPECT_EQ(session->pin(), token_->userPin());
    EXPECT_TRUE(session->ensureLoggedIn()) << session->lastError();
    EXPECT_EQ(agency_->sessionsOpened(), 1);
}

}  // namespace
}  // namespace velk::core::infra::portal
