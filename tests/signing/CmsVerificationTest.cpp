// Every kind of signature the agent sends, checked the way the agency checks
// it: CMS_verify over the detached data, the signed attributes, and the ESS
// certificate hash (which OpenSSL does not compare by itself).
#include <openssl/sha.h>

#include <gtest/gtest.h>

#include "infrastructure/signing/SignerPkcs11.h"
#include "infrastructure/signing/SignerWin.h"
#include "platform/ProviderPinCache.h"
#include "support/CertStoreFolder.h"
#include "support/DetachedCms.h"
#include "support/SoftHsmToken.h"
#include "support/TempDir.h"
#include "support/TestPki.h"

namespace velk::signing {
namespace {

using test::DetachedCms;
using test::TestIdentity;
using test::TestPki;

enum class Route { StoreSignData, StoreSignDataForPortal, Pkcs11SignData };

struct SignatureCase {
    const char* name;
    Route route;
    int signedAttributes;
};

void PrintTo(const SignatureCase& c, std::ostream* os) {
    *os << c.name;
}

class CmsVerificationTest : public testing::TestWithParam<SignatureCase> {
protected:
    static void SetUpTestSuite() {
        pki_ = new TestPki();
        user_ = new TestIdentity(pki_->issue());
    }
    static void TearDownTestSuite() {
        delete user_;
        delete pki_;
    }
    void TearDown() override { platform::ProviderPinCache::clear(); }

    // Signs through the case's route with a PIN-locked key.
    Bytes sign(const Bytes& data) {
        const std::string pin = "2468";
        if (GetParam().route == Route::Pkcs11SignData) {
            token_ = std::make_unique<test::SoftHsmToken>("VELK CMS", pin);
            const Bytes ckaId{0x01};
            token_->addIdentity(*user_, ckaId);
            SignerPkcs11 signer(test::SoftHsmToken::modulePath());
            return signer.signData(data, token_->certificateId(ckaId), pin);
        }
        test::CertStoreFolder store;
        store.addPinProtected("card", *user_, pin);
        SignerWin signer;
        return GetParam().route == Route::StoreSignData
                   ? signer.signData(data, user_->thumbprint(), pin)
                   : signer.signDataForPortal(data, user_->thumbprint(), pin);
    }

    test::IsolatedHome home_;
    std::unique_ptr<test::SoftHsmToken> token_;
    static TestPki* pki_;
    static TestIdentity* user_;
};

TestPki* CmsVerificationTest::pki_ = nullptr;
TestIdentity* CmsVerificationTest::user_ = nullptr;

TEST_P(CmsVerificationTest, SignatureVerifiesOverTheDataOnly) {
    const Bytes data = {'<', 'd', 'e', 'c', '>', 0xD0, 0x94, 0x00, '\r', '\n'};
    const auto cms = DetachedCms::parse(sign(data));
    ASSERT_TRUE(cms);
    const auto trust = pki_->trustStore();
    EXPECT_TRUE(cms->verify(data, trust.get()));
    EXPECT_FALSE(cms->hasEmbeddedContent());
    EXPECT_EQ(cms->firstCertificateDer(), user_->der());

    for (std::size_t pos : {std::size_t{0}, data.size() - 1}) {
        Bytes changed = data;
        changed[pos] ^= 0x01;
        EXPECT_FALSE(cms->verify(changed, trust.get())) << "changed byte " << pos;
    }

    EXPECT_EQ(cms->signedAttributeCount(), GetParam().signedAttributes);
    if (GetParam().signedAttributes > 0) {
        const Bytes der = user_->der();
        Bytes certHash(SHA256_DIGEST_LENGTH);
        SHA256(der.data(), der.size(), certHash.data());
        EXPECT_EQ(cms->signingCertificateV2Hash(), certHash);
    } else {
        EXPECT_FALSE(cms->signingCertificateV2Der());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Routes, CmsVerificationTest,
    testing::Values(SignatureCase{"StoreSignData", Route::StoreSignData, 0},
                    SignatureCase{"StoreSignDataForPortal", Route::StoreSignDataForPortal, 4},
                    SignatureCase{"Pkcs11SignData", Route::Pkcs11SignData, 4}),
    [](const testing::TestParamInfo<SignatureCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velk::signing
