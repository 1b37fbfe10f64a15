#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>
#include <openssl/ess.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include "infrastructure/signing/CmsBuilder.h"
#include "infrastructure/signing/InvalidPinException.h"
#include "infrastructure/signing/SigningCancelledException.h"
#include "support/DetachedCms.h"
#include "support/LogCapture.h"
#include "support/TestPki.h"

namespace velk::signing {
namespace {

using test::DetachedCms;
using test::LogCapture;
using test::TestIdentity;
using test::TestPki;

// The raw RSA PKCS#1 v1.5 signature of a DigestInfo with a software key, as a
// card would make it.
Bytes rawSignWith(EVP_PKEY* key, const Bytes& digestInfo) {
    platform::EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    std::size_t len = 0;
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_sign(ctx.get(), nullptr, &len, digestInfo.data(), digestInfo.size()) != 1) {
        return {};
    }
    Bytes out(len);
    if (EVP_PKEY_sign(ctx.get(), out.data(), &len, digestInfo.data(), digestInfo.size()) != 1) {
        return {};
    }
    out.resize(len);
    return out;
}

Bytes sha256(const Bytes& data) {
    Bytes out(SHA256_DIGEST_LENGTH);
    SHA256(data.data(), data.size(), out.data());
    return out;
}

class CmsBuilderTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        pki_ = new TestPki();
        user_ = new TestIdentity(pki_->issue());
    }
    static void TearDownTestSuite() {
        delete user_;
        delete pki_;
    }

    RawSign softwareKey() const {
        EVP_PKEY* key = user_->key.get();
        return [key](const Bytes& digestInfo) { return rawSignWith(key, digestInfo); };
    }

    const Bytes data_{'d', 'e', 'c', 'l', 0x00, 0xFF, '\r', '\n'};
    static TestPki* pki_;
    static TestIdentity* user_;
};

TestPki* CmsBuilderTest::pki_ = nullptr;
TestIdentity* CmsBuilderTest::user_ = nullptr;

TEST_F(CmsBuilderTest, SignatureVerifiesWithFourAttributesAndTheEssCertificateHash) {
    const Bytes cms = CmsBuilder::build(data_, user_->der(), softwareKey(), true);
    const auto parsed = DetachedCms::parse(cms);
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(parsed->verify(data_, pki_->trustStore().get()));
    EXPECT_FALSE(parsed->hasEmbeddedContent());
    EXPECT_TRUE(parsed->digestAlgorithmHasNullParameter());
    EXPECT_EQ(parsed->firstCertificateDer(), user_->der());
    EXPECT_EQ(parsed->signedAttributeCount(), 4);
    EXPECT_EQ(parsed->signingCertificateV2Hash(), sha256(user_->der()));
}

TEST_F(CmsBuilderTest, EssAttributeValueIsExactlyTheLibrarysEncoding) {
    const Bytes cms = CmsBuilder::build(data_, user_->der(), softwareKey(), true);
    const auto parsed = DetachedCms::parse(cms);
    ASSERT_TRUE(parsed);
    ESS_SIGNING_CERT_V2* ess =
        OSSL_ESS_signing_cert_v2_new_init(EVP_sha256(), user_->certificate.get(), nullptr, 1);
    unsigned char* der = nullptr;
    const int len = i2d_ESS_SIGNING_CERT_V2(ess, &der);
    const Bytes expected(der, der + len);
    OPENSSL_free(der);
    ESS_SIGNING_CERT_V2_free(ess);
    EXPECT_EQ(parsed->signingCertificateV2Der(), expected);
}

TEST_F(CmsBuilderTest, WithoutEssOnlyTheLibrarysThreeAttributes) {
    const auto parsed = DetachedCms::parse(CmsBuilder::build(data_, user_->der(), softwareKey(), false));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->signedAttributeCount(), 3);
    EXPECT_FALSE(parsed->signingCertificateV2Der());
    EXPECT_TRUE(parsed->verify(data_, pki_->trustStore().get()));
}

TEST_F(CmsBuilderTest, DelegateSignsTheDigestInfoOfTheSignedAttributes) {
    Bytes seen;
    RawSign inner = softwareKey();
    const Bytes cms = CmsBuilder::build(
        data_, user_->der(),
        [&](const Bytes& digestInfo) {
            seen = digestInfo;
            return inner(digestInfo);
        },
        true);
    ASSERT_FALSE(cms.empty());
    static const Bytes kSha256Prefix = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                        0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
    ASSERT_EQ(seen.size(), 51u);
    EXPECT_EQ(Bytes(seen.begin(), seen.begin() + 19), kSha256Prefix);
    EXPECT_NE(Bytes(seen.begin() + 19, seen.end()), sha256(data_)) << "must be the attributes' digest";
}

TEST_F(CmsBuilderTest, EmptyDataSignsToo) {
    const auto parsed = DetachedCms::parse(CmsBuilder::build({}, user_->der(), softwareKey(), true));
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(parsed->verify({}, pki_->trustStore().get()));
}

struct FailureCase {
    const char* name;
    int delegate;  // 0 none, 1 empty answer, 2 answer longer than the modulus
    bool ecCertificate;
    bool brokenCertificate;
    const char* errorLine;  // nullptr: no line from the builder
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class CmsBuilderFailureTest : public CmsBuilderTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(CmsBuilderFailureTest, FailsWithEmptyResult) {
    const FailureCase& c = GetParam();
    Bytes certDer = user_->der();
    if (c.ecCertificate) {
        test::CertificateSpec certSpec;
        certSpec.keyKind = test::KeyKind::Ec;
        certDer = pki_->issue(certSpec).der();
    }
    if (c.brokenCertificate) {
        certDer.resize(certDer.size() / 2);
    }
    RawSign rawSign;
    if (c.delegate == 1) {
        rawSign = [](const Bytes&) { return Bytes(); };
    } else if (c.delegate == 2) {
        rawSign = [](const Bytes&) { return Bytes(4096 / 8 + 1, 0x01); };
    } else if (c.delegate == 3) {
        rawSign = softwareKey();
    }
    LogCapture log;
    EXPECT_TRUE(CmsBuilder::build(data_, certDer, rawSign, true).empty());
    if (c.errorLine != nullptr) {
        EXPECT_EQ(log.count("ERROR", c.errorLine), 1);
    } else {
        EXPECT_EQ(log.count("ERROR"), 0);
        EXPECT_EQ(log.count("WARN"), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CmsBuilderFailureTest,
    testing::Values(FailureCase{"NoDelegate", 0, false, false, "CmsBuilder: rawSign callback is required"},
                    FailureCase{"EmptySignature", 1, false, false, "CmsBuilder: CMS_final failed"},
                    FailureCase{"OversizedSignature", 2, false, false, "CmsBuilder: CMS_final failed"},
                    FailureCase{"EcCertificate", 3, true, false, nullptr},
                    FailureCase{"BrokenCertificate", 3, false, true, "CmsBuilder: failed to parse cert DER"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(CmsBuilderTest, ExceptionsOfTheDelegateReachTheCallerUnchanged) {
    LogCapture log;
    EXPECT_THROW(CmsBuilder::build(
                     data_, user_->der(), [](const Bytes&) -> Bytes { throw InvalidPinException(); }, true),
                 InvalidPinException);
    EXPECT_THROW(
        CmsBuilder::build(
            data_, user_->der(), [](const Bytes&) -> Bytes { throw SigningCancelledException(); }, true),
        SigningCancelledException);
    EXPECT_EQ(log.count("ERROR"), 0);
    // The builder is usable afterwards: nothing of the failed build lingers.
    EXPECT_FALSE(CmsBuilder::build(data_, user_->der(), softwareKey(), true).empty());
}

TEST_F(CmsBuilderTest, ConcurrentBuildsEachUseTheirOwnDelegate) {
    test::CertificateSpec certSpec;
    certSpec.commonName = "Друг подписващ";
    const TestIdentity other = pki_->issue(certSpec);
    EVP_PKEY* otherKey = other.key.get();
    Bytes first;
    Bytes second;
    std::thread a([&] { first = CmsBuilder::build(data_, user_->der(), softwareKey(), true); });
    std::thread b([&] {
        second = CmsBuilder::build(
            data_, other.der(), [otherKey](const Bytes& d) { return rawSignWith(otherKey, d); }, true);
    });
    a.join();
    b.join();
    const auto trust = pki_->trustStore();
    ASSERT_TRUE(DetachedCms::parse(first));
    ASSERT_TRUE(DetachedCms::parse(second));
    EXPECT_TRUE(DetachedCms::parse(first)->verify(data_, trust.get()));
    EXPECT_TRUE(DetachedCms::parse(second)->verify(data_, trust.get()));
}

}  // namespace
}  // namespace velk::signing
