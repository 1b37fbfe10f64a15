#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "infrastructure/signing/InvalidPinException.h"
#include "infrastructure/signing/SignerPkcs11.h"
#include "support/DetachedCms.h"
#include "support/LogCapture.h"
#include "support/SoftHsmToken.h"
#include "support/TempDir.h"
#include "support/TestPki.h"

namespace velk::signing {
namespace {

using test::DetachedCms;
using test::IsolatedHome;
using test::LogCapture;
using test::SoftHsmToken;
using test::TestIdentity;
using test::TestPki;

class SignerPkcs11Test : public testing::Test {
protected:
    static void SetUpTestSuite() {
        pki_ = new TestPki();
        user_ = new TestIdentity(pki_->issue());
    }
    static void TearDownTestSuite() {
        delete user_;
        delete pki_;
    }

    void SetUp() override {
        ASSERT_FALSE(SoftHsmToken::modulePath().empty()) << "SoftHSM2 is required";
        token_ = std::make_unique<SoftHsmToken>();
        token_->addIdentity(*user_, kCkaId);
        id_ = token_->certificateId(kCkaId);
    }

    std::unique_ptr<SignerPkcs11> makeSigner() {
        return std::make_unique<SignerPkcs11>(SoftHsmToken::modulePath());
    }

    bool verifies(const Bytes& cms) const {
        const auto parsed = DetachedCms::parse(cms);
        return parsed && parsed->verify(data_, pki_->trustStore().get());
    }

    const Bytes kCkaId{0xA1, 0x07};
    const Bytes data_{'g', 'z', 0x1F, 0x8B};
    IsolatedHome home_;
    std::unique_ptr<SoftHsmToken> token_;
    std::string id_;
    static TestPki* pki_;
    static TestIdentity* user_;
};

TestPki* SignerPkcs11Test::pki_ = nullptr;
TestIdentity* SignerPkcs11Test::user_ = nullptr;

TEST_F(SignerPkcs11Test, ListsTheTokensCertificateWithReadableNames) {
    LogCapture log;
    const auto signer = makeSigner();
    const auto list = signer->listCertificates();
    ASSERT_EQ(list.size(), 1u);
    const CertificateInfo& info = list[0];
    EXPECT_EQ(info.id, id_);
    EXPECT_EQ(info.subject, "CN=Иван Петров Иванов, O=Тест ЕООД, C=BG");
    EXPECT_EQ(info.issuer, "CN=Тестов удостоверяващ център, O=Тестова инфраструктура АД, C=BG");
    ASSERT_FALSE(info.serial.empty());
    EXPECT_NE(info.serial[0], '0');
    EXPECT_TRUE(info.hardware);
    EXPECT_EQ(info.provider, token_->label());
    EXPECT_EQ(info.notBefore.size(), 20u);
    EXPECT_EQ(log.count("INFO", "SignerPkcs11: module initialised (" + SoftHsmToken::modulePath() + ")"), 1);
    // SoftHSM's spare uninitialised slot cannot open a session.
    EXPECT_EQ(log.count("WARN", "SignerPkcs11: C_OpenSession returned "), 1);
    EXPECT_EQ(signer->getCertificateDer(id_), user_->der());
}

TEST_F(SignerPkcs11Test, WarmUpAcceptsTheRightPinAndRejectsAWrongOne) {
    const auto signer = makeSigner();
    EXPECT_TRUE(signer->warmUp(id_, token_->userPin()));
    EXPECT_THROW(signer->warmUp(id_, "0000"), InvalidPinException);
    // An empty PIN does not log in and so cannot be wrong.
    EXPECT_TRUE(signer->warmUp(id_, ""));
}

TEST_F(SignerPkcs11Test, SignsWithTheRememberedPinAfterWarmUp) {
    const auto signer = makeSigner();
    {
        LogCapture log;
        EXPECT_TRUE(signer->signData(data_, id_, "").empty()) << "no PIN known yet";
        EXPECT_EQ(log.count("WARN", "SignerPkcs11: private key not found on token"), 1);
    }
    ASSERT_TRUE(signer->warmUp(id_, token_->userPin()));
    EXPECT_TRUE(verifies(signer->signData(data_, id_, "")));
    EXPECT_TRUE(verifies(signer->signDataForPortal(data_, id_, "")));
}

TEST_F(SignerPkcs11Test, RejectedPinIsForgottenAndNeverRetriedAlone) {
    const auto signer = makeSigner();
    ASSERT_TRUE(signer->warmUp(id_, token_->userPin()));
    EXPECT_THROW(signer->signData(data_, id_, "0000"), InvalidPinException);
    LogCapture log;
    EXPECT_TRUE(signer->signData(data_, id_, "").empty());
    EXPECT_EQ(log.count("WARN", "SignerPkcs11: private key not found on token"), 1);
}

TEST_F(SignerPkcs11Test, ExplicitPinWinsOverTheRememberedOne) {
    const auto signer = makeSigner();
    ASSERT_TRUE(signer->warmUp(id_, token_->userPin()));
    EXPECT_THROW(signer->warmUp(id_, "0000"), InvalidPinException);
    EXPECT_TRUE(verifies(signer->signData(data_, id_, token_->userPin())));
    // ...and is remembered in turn.
    EXPECT_TRUE(verifies(signer->signData(data_, id_, "")));
}

TEST_F(SignerPkcs11Test, TwoThreadsSignAtOnce) {
    const auto signer = makeSigner();
    ASSERT_TRUE(signer->warmUp(id_, token_->userPin()));
    constexpr int kRounds = 4;
    Bytes results[2][kRounds];
    std::thread a([&] {
        for (auto& r : results[0]) {
            r = signer->signData(data_, id_, token_->userPin());
        }
    });
    std::thread b([&] {
        for (auto& r : results[1]) {
            r = signer->signData(data_, id_, "");
        }
    });
    std::thread c([&] { signer->listCertificates(); });
    a.join();
    b.join();
    c.join();
    for (const auto& thread : results) {
        for (const auto& cms : thread) {
            EXPECT_TRUE(verifies(cms));
        }
    }
}

class InvalidPkcs11IdTest : public SignerPkcs11Test, public testing::WithParamInterface<std::string> {};

TEST_P(InvalidPkcs11IdTest, SignsNothingSilentlyAndWarmUpSaysSo) {
    const auto signer = makeSigner();
    LogCapture log;
    EXPECT_TRUE(signer->signData(data_, GetParam(), token_->userPin()).empty());
    EXPECT_TRUE(signer->getCertificateDer(GetParam()).empty());
    EXPECT_FALSE(signer->warmUp(GetParam(), token_->userPin()));
    EXPECT_EQ(log.count("WARN", "SignerPkcs11: invalid certificateId: " + GetParam()), 1);
    EXPECT_EQ(log.stop().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Ids, InvalidPkcs11IdTest,
                         testing::Values("", "1", "1:", ":A107", "x:A107", " :A107", "-1:A107", "1:A",
                                         "1:A1 07", "99999999999999999999999:A107"));

TEST_F(SignerPkcs11Test, UnknownCkaIdFindsNothing) {
    const auto signer = makeSigner();
    const std::string unknown = token_->certificateId({0x42});
    LogCapture log;
    EXPECT_TRUE(signer->signData(data_, unknown, token_->userPin()).empty());
    EXPECT_TRUE(signer->getCertificateDer(unknown).empty());
    EXPECT_EQ(log.count("WARN", "SignerPkcs11: certificate not found on token"), 1);
}

class CertificateBatchTest : public SignerPkcs11Test, public testing::WithParamInterface<int> {};

TEST_P(CertificateBatchTest, ListsEveryObjectAcrossBatches) {
    std::vector<SoftHsmToken::CertificateObject> objects;
    for (int i = 0; i < GetParam(); ++i) {
        objects.push_back({user_->der(), {0x10, static_cast<std::uint8_t>(i)}});
    }
    token_->addCertificateObjects(objects);
    EXPECT_EQ(makeSigner()->listCertificates().size(), static_cast<std::size_t>(GetParam()) + 1);
}

INSTANTIATE_TEST_SUITE_P(Counts, CertificateBatchTest, testing::Values(31, 32, 33));

TEST_F(SignerPkcs11Test, ObjectThatIsNoCertificateIsListedBare) {
    token_->addCertificateObjects({{{0x01, 0x02, 0x03}, {0x55}}});
    const auto list = makeSigner()->listCertificates();
    ASSERT_EQ(list.size(), 2u);
    const auto bare = std::find_if(list.begin(), list.end(), [&](const CertificateInfo& c) {
        return c.id == token_->certificateId({0x55});
    });
    ASSERT_NE(bare, list.end());
    EXPECT_TRUE(bare->subject.empty());
    EXPECT_TRUE(bare->serial.empty());
    EXPECT_TRUE(bare->hardware);
    EXPECT_EQ(bare->provider, token_->label());
}

TEST_F(SignerPkcs11Test, SecondSignerOnTheSameModuleDoesNotFinaliseTheFirst) {
    const auto first = makeSigner();
    {
        LogCapture log;
        const auto second = makeSigner();  // C_Initialize answers "already initialised"
        EXPECT_EQ(log.count("INFO", "SignerPkcs11: module initialised"), 1);
        EXPECT_EQ(second->listCertificates().size(), 1u);
    }
    EXPECT_EQ(first->listCertificates().size(), 1u);
    EXPECT_TRUE(verifies(first->signData(data_, id_, token_->userPin())));
}

TEST_F(SignerPkcs11Test, TokenWithBlankLabelIsNamedPkcs11) {
    token_.reset();
    token_ = std::make_unique<SoftHsmToken>("   ");
    token_->addIdentity(*user_, kCkaId);
    const auto list = makeSigner()->listCertificates();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].provider, "PKCS#11");
}

struct UnusableCase {
    const char* name;
    std::string path;
    const char* level;
    std::string line;
};

void PrintTo(const UnusableCase& c, std::ostream* os) {
    *os << c.name;
}

class UnusableModuleTest : public testing::TestWithParam<UnusableCase> {
protected:
    IsolatedHome home_;
};

TEST_P(UnusableModuleTest, SignerAnswersEmpty) {
    LogCapture log;
    SignerPkcs11 signer(GetParam().path);
    EXPECT_EQ(log.count(GetParam().level, GetParam().line), 1);
    EXPECT_TRUE(signer.listCertificates().empty());
    EXPECT_TRUE(signer.signData({1}, "1:01", "1234").empty());
    EXPECT_FALSE(signer.warmUp("1:01", "1234"));
    EXPECT_TRUE(signer.getCertificateDer("1:01").empty());
    EXPECT_EQ(log.stop().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Modules, UnusableModuleTest,
    testing::Values(UnusableCase{"NoPath", "", "WARN", "SignerPkcs11: no module path configured"},
                    UnusableCase{"Missing", "/nonexistent/module.so", "ERROR",
                                 "SignerPkcs11: failed to load /nonexistent/module.so"},
                    UnusableCase{"NotPkcs11", "libz.so.1", "ERROR",
                                 "SignerPkcs11: C_GetFunctionList not found in module"}),
    [](const testing::TestParamInfo<UnusableCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velk::signing
