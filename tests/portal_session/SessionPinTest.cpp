// The session's PINs against the fake agency with certificates of the store:
// a PIN belongs to one certificate, and one the card refused is forgotten.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "features/etz62/Etz62Declaration.h"
#include "features/odit/OditFileDeclaration.h"
#include "filing/FilingTest.h"
#include "filing/ScriptedSigner.h"
#include "infrastructure/signing/PinStore.h"

namespace velk::core::infra::portal {
namespace {

using operations::SubmissionResult;
using signing::PinStore;
using test::ScriptedSigner;
using testing::ElementsAre;

class SessionPinTest : public FilingTest {
protected:
    // A filing that signs with the session's PIN, and the text a refused PIN
    // gives.
    struct Filing {
        std::string name;
        std::function<SubmissionResult(SessionPinTest&)> file;
        std::string refusal;
    };

    std::vector<Filing> filings() {
        const std::string path = writeFile("filing.xml", "<a/>");
        return {
            {"REST",
             [path](SessionPinTest& t) {
                 return t.etz62_.submit(&t.session_, path, {{"eik", kCompanyEik}});
             },
             "Signing failed: Грешен PIN код."},
            {"PLS",
             [path](SessionPinTest& t) {
                 return t.odit_.submit(&t.session_, path, {{"eik", kCompanyEik}, {"year", "2025"}});
             },
             "Грешен PIN код."},
        };
    }

    features::etz62::Etz62Declaration etz62_;
    features::odit::OditFileDeclaration odit_;
};

TEST_F(SessionPinTest, APinIsPresentedOnlyForTheCertificateItWasGivenFor) {
    const std::string second = addCertificate("second", "Мария Георгиева");
    const std::string third = addCertificate("third", "Петър Петров");
    session_.setPin(certificateId_, "1111");
    EXPECT_EQ(session_.pin(), "1111");

    session_.configure(identity(second));
    EXPECT_EQ(session_.pin(), "");  // nothing typed or remembered for it

    // Typed for a certificate not in use: kept for it, and it wins over an
    // older remembered one.
    ASSERT_TRUE(PinStore::store(third, "9999"));
    session_.setPin(third, "3333");
    EXPECT_EQ(session_.pin(), "");
    session_.configure(identity(third));
    EXPECT_EQ(session_.pin(), "3333");

    ASSERT_TRUE(PinStore::store(second, "2222"));
    session_.configure(identity(second));
    EXPECT_EQ(session_.pin(), "2222");
    session_.configure(identity(certificateId_));
    EXPECT_EQ(session_.pin(), "1111");
}

TEST_F(SessionPinTest, SigningAfterASwitchOfSenderNeverGetsTheFirstSendersPin) {
    const std::string second = addCertificate("second", "Мария Георгиева");
    for (const Filing& filing : filings()) {
        SCOPED_TRACE(filing.name);
        session_.configure(identity(certificateId_));
        session_.setPin(certificateId_, kPin);
        session_.configure(identity(second));
        ScriptedSigner recording(signer_);
        session_.setSigner(&recording);
        const SubmissionResult result = filing.file(*this);
        EXPECT_TRUE(result.success) << result.errorMessage;
        EXPECT_THAT(recording.pins, ElementsAre(""));
    }
}

TEST_F(SessionPinTest, APinTheCardRefusedIsForgottenAndNotPresentedOnTheNextRun) {
    for (const Filing& filing : filings()) {
        SCOPED_TRACE(filing.name);
        ASSERT_TRUE(PinStore::store(certificateId_, "1111"));
        session_.setPin(certificateId_, "1111");
        ScriptedSigner refusing(signer_, ScriptedSigner::Behaviour::WrongPin);
        session_.setSigner(&refusing);
        EXPECT_EQ(filing.file(*this).errorMessage, filing.refusal);
        EXPECT_THAT(refusing.pins, ElementsAre("1111"));
        EXPECT_EQ(session_.pin(), "");
        EXPECT_FALSE(PinStore::get(certificateId_).has_value());

        // The next run, also after a restart, presents no PIN.
        NapSession restarted;
        restarted.configure(identity(certificateId_));
        EXPECT_EQ(restarted.pin(), "");
        ScriptedSigner recording(signer_);
        session_.setSigner(&recording);
        const SubmissionResult result = filing.file(*this);
        EXPECT_TRUE(result.success) << result.errorMessage;
        EXPECT_THAT(recording.pins, ElementsAre(""));
    }
}

TEST_F(SessionPinTest, ARefusalKeepsAnotherPinRememberedMeanwhile) {
    ASSERT_TRUE(PinStore::store(certificateId_, "5555"));
    session_.setPin(certificateId_, "1111");
    session_.pinRefused();
    EXPECT_EQ(session_.pin(), "");
    EXPECT_EQ(PinStore::get(certificateId_), "5555");

    // Without a PIN for the certificate nothing was presented: nothing goes.
    session_.pinRefused();
    EXPECT_EQ(PinStore::get(certificateId_), "5555");
}

}  // namespace
}  // namespace velk::core::infra::portal
