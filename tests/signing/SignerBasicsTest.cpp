#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "infrastructure/signing/HexText.h"
#include "infrastructure/signing/ISigner.h"
#include "infrastructure/signing/InvalidPinException.h"
#include "infrastructure/signing/SignerFactory.h"
#include "infrastructure/signing/SignerPkcs11.h"
#include "infrastructure/signing/SignerWin.h"
#include "infrastructure/signing/SigningCancelledException.h"
#include "infrastructure/signing/SigningSession.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace velk::signing {
namespace {

using test::IsolatedHome;
using test::LogCapture;
using test::ScopedEnv;

struct HexDecodeCase {
    std::string text;
    Bytes expected;
};

class HexDecodeTest : public testing::TestWithParam<HexDecodeCase> {};

TEST_P(HexDecodeTest, DecodesPairsOrNothing) {
    EXPECT_EQ(hexDecode(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, HexDecodeTest,
                         testing::Values(HexDecodeCase{"", {}}, HexDecodeCase{"00fF", {0x00, 0xFF}},
                                         HexDecodeCase{"aBcD", {0xAB, 0xCD}},
                                         HexDecodeCase{"ABCDE", {0xAB, 0xCD}},  // fifth digit ignored
                                         HexDecodeCase{"A", {}}, HexDecodeCase{"AB CD", {}},
                                         HexDecodeCase{"AB:CD", {}}, HexDecodeCase{"ABCG", {}},
                                         HexDecodeCase{"ABCDEFGH", {}}));

TEST(HexEncodeTest, WritesUpperCaseDigitsHighHalfFirst) {
    EXPECT_EQ(hexEncode({}), "");
    EXPECT_EQ(hexEncode({0x00, 0x0F, 0xA5, 0xFF}), "000FA5FF");
    EXPECT_EQ(hexEncode(hexDecode("deadbeef")), "DEADBEEF");
}

TEST(SignerExceptionsTest, CarryTheirFixedMessageAsStandardExceptions) {
    try {
        throw InvalidPinException();
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Грешен PIN код.");
    }
    try {
        throw SigningCancelledException();
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Подписването беше отказано.");
    }
}

// A signer that keeps the interface's signDataForPortal.
class EchoSigner : public ISigner {
public:
    std::vector<CertificateInfo> listCertificates() override { return {}; }
    Bytes signData(const Bytes& data, const std::string& id, const std::string& pin) override {
        Bytes out = data;
        out.insert(out.end(), id.begin(), id.end());
        out.insert(out.end(), pin.begin(), pin.end());
        return out;
    }
    bool warmUp(const std::string&, const std::string&) override { return true; }
    Bytes getCertificateDer(const std::string&) override { return {}; }
};

TEST(ISignerTest, PortalSignatureDefaultsToSignData) {
    EchoSigner signer;
    const Bytes data{1, 2, 3};
    EXPECT_EQ(signer.signDataForPortal(data, "id", "pin"), signer.signData(data, "id", "pin"));
}

// A session starts with no PIN and nothing hands it one, so what can be seen
// of it is the listener's lifetime: kept, replaced, released, and not called
// while no PIN is held. (Its interface offers no way to give it a PIN, so the
// call with a held PIN cannot be reached from here.)
TEST(SigningSessionTest, ListenersAreKeptReplacedAndReleasedAndNotCalledWithoutAPin) {
    EchoSigner signer;
    SigningSession session(&signer);
    auto token = std::make_shared<int>(0);
    int calls = 0;
    session.setPinListener([token, &calls](const std::string&, const std::string&) { ++calls; });
    EXPECT_EQ(token.use_count(), 2);
    session.setPinListener([&calls](const std::string&, const std::string&) { ++calls; });
    EXPECT_EQ(token.use_count(), 1);
    EXPECT_EQ(calls, 0);
}

struct FactoryCase {
    const char* name;
    SignerKind kind;
    std::optional<std::string> env;
    bool expectPkcs11;
    int expectedFactoryLines;
};

void PrintTo(const FactoryCase& c, std::ostream* os) {
    *os << c.name;
}

class SignerFactoryTest : public testing::TestWithParam<FactoryCase> {
protected:
    IsolatedHome home_;
};

TEST_P(SignerFactoryTest, ChoosesTheSignerByKindAndEnvironment) {
    const FactoryCase& c = GetParam();
    ScopedEnv env("VELK_PKCS11_MODULE", c.env);
    LogCapture log;
    const std::unique_ptr<ISigner> signer = SignerFactory::create(c.kind, "/nonexistent/given-module.so");
    EXPECT_EQ(dynamic_cast<SignerPkcs11*>(signer.get()) != nullptr, c.expectPkcs11);
    EXPECT_EQ(dynamic_cast<SignerWin*>(signer.get()) != nullptr, !c.expectPkcs11);
    EXPECT_EQ(log.count("INFO",
                        "SignerFactory: VELK_PKCS11_MODULE set, using PKCS#11 signer "
                        "(/nonexistent/env-module.so)"),
              c.expectedFactoryLines);
    if (c.expectPkcs11) {
        // The module actually tried is the given one for Pkcs11, the variable's otherwise.
        const std::string tried =
            c.kind == SignerKind::Pkcs11 ? "/nonexistent/given-module.so" : "/nonexistent/env-module.so";
        EXPECT_EQ(log.count("ERROR", "SignerPkcs11: failed to load " + tried), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SignerFactoryTest,
    testing::Values(
        FactoryCase{"AutoUnset", SignerKind::Auto, std::nullopt, false, 0},
        FactoryCase{"AutoEmpty", SignerKind::Auto, "", false, 0},
        FactoryCase{"AutoSet", SignerKind::Auto, "/nonexistent/env-module.so", true, 1},
        FactoryCase{"Pkcs11IgnoresEnv", SignerKind::Pkcs11, "/nonexistent/env-module.so", true, 0},
        FactoryCase{"UnknownKindIsAuto", static_cast<SignerKind>(7), "/nonexistent/env-module.so", true, 1}),
    [](const testing::TestParamInfo<FactoryCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velk::signing
