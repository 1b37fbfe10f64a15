#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "infrastructure/signing/InvalidPinException.h"
#include "infrastructure/signing/SignerWin.h"
#include "infrastructure/signing/SigningCancelledException.h"
#include "platform/PinPrompt.h"
#include "platform/ProviderPinCache.h"
#include "support/CertStoreFolder.h"
#include "support/ChildProcess.h"
#include "support/DetachedCms.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/TestPki.h"
#include "support/UnusualFiles.h"

namespace velk::signing {
namespace {

using platform::PinAnswer;
using platform::ProviderPinCache;
using test::CertStoreFolder;
using test::DetachedCms;
using test::IsolatedHome;
using test::LogCapture;
using test::TestIdentity;
using test::TestPki;

class SignerWinTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        pki_ = new TestPki();
        test::CertificateSpec certSpec;
        certSpec.serial = {0x80, 0x01};  // encoded with a leading zero byte
        user_ = new TestIdentity(pki_->issue(certSpec));
    }
    static void TearDownTestSuite() {
        delete user_;
        delete pki_;
    }

    void SetUp() override {
        ProviderPinCache::clear();
        ProviderPinCache::setPrompt(nullptr);
    }
    void TearDown() override {
        ProviderPinCache::clear();
        ProviderPinCache::setPrompt(nullptr);
    }

    // A PIN-protected entry and the prompt counting its calls.
    void usePinProtected(const std::string& keyApi = "ncrypt") {
        store_.addPinProtected("card", *user_, kPin, "Microsoft Smart Card Key Storage Provider", keyApi);
    }
    void scriptPrompt(PinAnswer answer) {
        ProviderPinCache::setPrompt([this, answer](const platform::PinRequest& request) {
            ++promptCalls_;
            lastPromptId_ = request.certificateId;
            return answer;
        });
    }

    static constexpr const char* kPin = "4321";
    IsolatedHome home_;
    CertStoreFolder store_;
    SignerWin signer_;
    const Bytes data_{'x', 'm', 'l'};
    int promptCalls_ = 0;
    std::string lastPromptId_;
    static TestPki* pki_;
    static TestIdentity* user_;
};

TestPki* SignerWinTest::pki_ = nullptr;
TestIdentity* SignerWinTest::user_ = nullptr;

TEST_F(SignerWinTest, ListsCertificatesWithKeysInFileOrder) {
    test::CertificateSpec other;
    other.commonName = "Мария Георгиева";
    const TestIdentity card = pki_->issue(other);
    store_.addSoftware("a-soft", *user_);
    store_.addPinProtected("b-card", card, kPin);
    store_.add("c-nokey", TestPki::pkcs12WithoutKey(card));

    const auto list = signer_.listCertificates();
    ASSERT_EQ(list.size(), 2u);
    const CertificateInfo& soft = list[0];
    EXPECT_EQ(soft.id, user_->thumbprint());
    EXPECT_EQ(soft.subject, "CN=Иван Петров Иванов, O=Тест ЕООД, C=BG");
    EXPECT_EQ(soft.issuer, "CN=Тестов удостоверяващ център, O=Тестова инфраструктура АД, C=BG");
    EXPECT_EQ(soft.serial, "008001");
    EXPECT_EQ(soft.provider, "Microsoft Software Key Storage Provider");
    EXPECT_FALSE(soft.hardware);
    ASSERT_EQ(soft.notBefore.size(), 20u);
    EXPECT_EQ(soft.notBefore[10], 'T');
    EXPECT_EQ(soft.notAfter.back(), 'Z');
    EXPECT_LT(soft.notBefore, soft.notAfter);

    EXPECT_EQ(list[1].id, card.thumbprint());
    EXPECT_EQ(list[1].subject, "CN=Мария Георгиева, O=Тест ЕООД, C=BG");
    EXPECT_TRUE(list[1].hardware);
}

struct ProviderCase {
    std::string provider;
    bool hardware;
};

class HardwareProviderTest : public SignerWinTest, public testing::WithParamInterface<ProviderCase> {};

TEST_P(HardwareProviderTest, HardwareFlagFollowsTheProviderName) {
    store_.add("entry", TestPki::pkcs12(*user_, "", false), {{"provider", GetParam().provider}});
    const auto list = signer_.listCertificates();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].hardware, GetParam().hardware);
    EXPECT_EQ(list[0].provider, GetParam().provider);
}

INSTANTIATE_TEST_SUITE_P(Names, HardwareProviderTest,
                         testing::Values(ProviderCase{"Microsoft Smart Card Key Storage Provider v2", true},
                                         ProviderCase{"safenet key storage", true},
                                         ProviderCase{"Gemalto IDPrime MD", true},
                                         ProviderCase{"OpenSC CSP", true},
                                         ProviderCase{"Microsoft Software Key Storage Provider", false},
                                         ProviderCase{"", false}));

// A sidecar the store cannot use leaves the entry a plain software key.
class UnusableSidecarTest : public SignerWinTest, public testing::WithParamInterface<std::string> {};

TEST_P(UnusableSidecarTest, GivesTheDefaultsWithOneWarning) {
    store_.addSoftware("entry", *user_);
    std::ofstream(store_.path() + "/entry.json") << GetParam();
    LogCapture log;
    const auto list = signer_.listCertificates();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].provider, "Microsoft Software Key Storage Provider");
    EXPECT_FALSE(list[0].hardware);
    EXPECT_EQ(log.count("WARN", "CertStore: ignoring malformed "), 1);
}

std::string sidecarCaseName(const testing::TestParamInfo<std::string>& info) {
    constexpr const char* kNames[] = {"Cut", "NotAnObject", "ProviderNumber", "TooDeep"};
    return kNames[info.index];
}

INSTANTIATE_TEST_SUITE_P(Texts, UnusableSidecarTest,
                         testing::Values(std::string(R"({"provider":)"), std::string(R"(["provider"])"),
                                         std::string(R"({"provider":7})"),
                                         std::string(R"({"provider":"Gemalto","x":)") +
                                             std::string(100000, '[') + std::string(100000, ']') + "}"),
                         sidecarCaseName);

TEST_F(SignerWinTest, PinProtectedFileWithEncryptedCertificateIsLeftOut) {
    store_.add("locked", TestPki::pkcs12(*user_, kPin, false), {{"pinProtected", true}});
    LogCapture log;
    EXPECT_TRUE(signer_.listCertificates().empty());
    EXPECT_EQ(
        log.count("WARN", "CertStore: the certificates in " + store_.path() + "/locked.p12 are encrypted"),
        1);
}

// Files as `openssl pkcs12 -export` makes them, with nothing beside them but
// what a user adds: certificates and key encrypted with the PIN, no sidecar.
class ExportedFileTest : public SignerWinTest {
protected:
    void emptyTheStore() const {
        for (const auto& entry : std::filesystem::directory_iterator(store_.path())) {
            std::filesystem::remove(entry.path());
        }
    }
    void expectSignedBy(const Bytes& cms, const TestIdentity& identity) const {
        const auto parsed = DetachedCms::parse(cms);
        ASSERT_TRUE(parsed.has_value());
        EXPECT_TRUE(parsed->verify(data_, pki_->trustStore().get()));
        EXPECT_EQ(parsed->firstCertificateDer(), identity.der());
    }
};

TEST_F(ExportedFileTest, IsListedFromItsCompanionCertificateWithoutAskingForThePin) {
    struct Case {
        const char* extension;
        CertStoreFolder::Encoding encoding;
    };
    for (const Case& c :
         {Case{".crt", CertStoreFolder::Encoding::Pem}, Case{".cer", CertStoreFolder::Encoding::Der},
          Case{".pem", CertStoreFolder::Encoding::Pem}}) {
        SCOPED_TRACE(c.extension);
        emptyTheStore();
        ProviderPinCache::clear();
        promptCalls_ = 0;
        store_.addExported("user", *user_, kPin);
        store_.addCompanion("user", c.extension, *user_, c.encoding);
        scriptPrompt(PinAnswer{platform::kStatusOk, kPin});
        LogCapture log;

        const auto list = signer_.listCertificates();
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].id, user_->thumbprint());
        EXPECT_EQ(list[0].subject, "CN=Иван Петров Иванов, O=Тест ЕООД, C=BG");
        EXPECT_EQ(list[0].serial, "008001");
        EXPECT_EQ(list[0].provider, "Microsoft Software Key Storage Provider");
        EXPECT_FALSE(list[0].hardware);
        EXPECT_EQ(signer_.getCertificateDer(user_->thumbprint()), user_->der());
        EXPECT_EQ(promptCalls_, 0);

        // The PIN opens the file and the key belongs to the certificate.
        expectSignedBy(signer_.signData(data_, user_->thumbprint(), ""), *user_);
        EXPECT_EQ(promptCalls_, 1);
        EXPECT_EQ(log.count("WARN"), 0);
    }
}

TEST_F(ExportedFileTest, WithoutCompanionItIsLeftOutWithOneWarningThatSaysWhatToDo) {
    store_.addExported("user", *user_, kPin);
    scriptPrompt(PinAnswer{platform::kStatusOk, kPin});
    LogCapture log;
    EXPECT_TRUE(signer_.listCertificates().empty());
    EXPECT_TRUE(signer_.listCertificates().empty());
    EXPECT_EQ(promptCalls_, 0);
    const std::string file = store_.path() + "/user.p12";
    const std::string companion = store_.path() + "/user.crt";
    const auto lines = log.stop();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("[WARN ] CertStore: the certificates in " + file + " are encrypted"),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[0].find("openssl pkcs12 -in " + file + " -clcerts -nokeys -out " + companion),
              std::string::npos)
        << lines[0];
}

TEST_F(ExportedFileTest, CompanionThatIsNoCertificateLeavesTheFileOut) {
    store_.addExported("user", *user_, kPin);
    std::ofstream(store_.path() + "/user.crt") << "-----BEGIN CERTIFICATE-----\nnot base64\n";
    LogCapture log;
    EXPECT_TRUE(signer_.listCertificates().empty());
    EXPECT_EQ(log.count("WARN", "CertStore: not a certificate: " + store_.path() + "/user.crt"), 1);
}

TEST_F(ExportedFileTest, WithoutSidecarTheFileTellsWhetherItIsPinProtected) {
    // How the certificate beside the file came about.
    enum class Companion { None, Written, Extracted, ExtractedLegacy };
    struct Case {
        const char* name;
        std::string password;
        std::vector<std::string> options;
        Companion companion;
        bool pinProtected;
        nlohmann::json sidecar = nullptr;
    };
    const std::vector<Case> cases = {
        {"default", kPin, {}, Companion::Written, true},
        {"certificates in clear", kPin, {"-certpbe", "NONE"}, Companion::None, true},
        {"nothing encrypted, MAC with the password",
         kPin,
         {"-keypbe", "NONE", "-certpbe", "NONE"},
         Companion::None,
         true},
        {"empty password", "", {}, Companion::None, false},
        {"default, companion by the openssl command", kPin, {}, Companion::Extracted, true},
        // RC2-40 certificates, 3DES key, SHA-1 MAC, as older Windows and browsers export.
        {"older export", kPin, {"-legacy"}, Companion::ExtractedLegacy, true},
        // A sidecar cannot take the PIN off a file that needs one.
        {"sidecar says no PIN", kPin, {}, Companion::Written, true, {{"pinProtected", false}}},
        {"older export, sidecar says no PIN",
         kPin,
         {"-legacy"},
         Companion::ExtractedLegacy,
         true,
         {{"pinProtected", false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        emptyTheStore();
        ProviderPinCache::clear();
        promptCalls_ = 0;
        store_.addExported("user", *user_, c.password, c.options);
        switch (c.companion) {
            case Companion::None:
                break;
            case Companion::Written:
                store_.addCompanion("user", ".crt", *user_, CertStoreFolder::Encoding::Pem);
                break;
            case Companion::Extracted:
                ASSERT_EQ(store_.extractCompanion("user", c.password), 0);
                break;
            case Companion::ExtractedLegacy:
                ASSERT_EQ(store_.extractCompanion("user", c.password, {"-legacy"}), 0);
                break;
        }
        if (!c.sidecar.is_null()) {
            std::ofstream(store_.path() + "/user.json") << c.sidecar.dump();
        }
        LogCapture log;
        const auto list = signer_.listCertificates();
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].id, user_->thumbprint());
        EXPECT_EQ(signer_.getCertificateDer(user_->thumbprint()), user_->der());

        scriptPrompt(PinAnswer{platform::kStatusOk, "0000"});
        if (c.pinProtected) {
            EXPECT_THROW(signer_.signData(data_, user_->thumbprint(), ""), InvalidPinException);
            EXPECT_THROW(signer_.signData(data_, user_->thumbprint(), "0000"), InvalidPinException);
            EXPECT_EQ(promptCalls_, 1);
            scriptPrompt(PinAnswer{platform::kStatusOk, kPin});
            expectSignedBy(signer_.signDataForPortal(data_, user_->thumbprint(), ""), *user_);
            EXPECT_EQ(promptCalls_, 2);
            EXPECT_EQ(ProviderPinCache::lookup(user_->thumbprint()), kPin);
            // Once accepted, the PIN is not asked again.
            expectSignedBy(signer_.signData(data_, user_->thumbprint(), ""), *user_);
            EXPECT_EQ(promptCalls_, 2);
        } else {
            expectSignedBy(signer_.signData(data_, user_->thumbprint(), "0000"), *user_);
            EXPECT_EQ(promptCalls_, 0);
        }
        EXPECT_EQ(log.count("WARN", "CertStore"), 0);
    }
}

// What a failed `openssl pkcs12 ... -out NAME.crt` leaves, or a file that is
// no regular one, is no companion: the file is left out with the one WARN
// that says how to make one, naming that file.
TEST_F(ExportedFileTest, EmptyOrUnreadableCompanionCountsAsMissing) {
    struct Case {
        const char* name;  // also the file's name: the WARN is told once per file
        std::vector<std::string> exportOptions;
        std::function<void(const std::string& p12)> arrange;
        std::string companionExtension;  // of the file the WARN names
        std::string command;             // the command it suggests, up to -in
    };
    const std::string dir = store_.path();
    const std::vector<Case> cases = {
        {"legacy-without-option",
         {"-legacy"},
         [&](const std::string& name) { ASSERT_NE(store_.extractCompanion(name, kPin), 0); },
         ".crt",
         "openssl pkcs12 -legacy -in "},
        {"empty",
         {},
         [&](const std::string& name) { std::ofstream(dir + "/" + name + ".crt").flush(); },
         ".crt",
         "openssl pkcs12 -in "},
        {"fifo",
         {},
         [&](const std::string& name) { test::makeFifo(dir + "/" + name + ".cer"); },
         ".cer",
         "openssl pkcs12 -in "},
        {"large",
         {},
         [&](const std::string& name) {
             test::writeSparseFile(dir + "/" + name + ".crt", "-----BEGIN CERTIFICATE-----\n",
                                   2 * 1024 * 1024);
         },
         ".crt",
         "openssl pkcs12 -in "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        emptyTheStore();
        const std::string p12 = dir + "/" + c.name + ".p12";
        store_.addExported(c.name, *user_, kPin, c.exportOptions);
        c.arrange(c.name);
        LogCapture log;
        EXPECT_TRUE(signer_.listCertificates().empty());
        const auto lines = log.stop();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("[WARN ] CertStore: the certificates in " + p12 + " are encrypted"),
                  std::string::npos)
            << lines[0];
        EXPECT_NE(lines[0].find(c.command + p12 + " -clcerts -nokeys -out " + dir + "/" + c.name +
                                c.companionExtension),
                  std::string::npos)
            << lines[0];

        // A good companion under the next name is used.
        store_.addCompanion(c.name, ".pem", *user_, CertStoreFolder::Encoding::Pem);
        ASSERT_EQ(signer_.listCertificates().size(), 1u);
    }
}

TEST_F(ExportedFileTest, CompanionOfAnotherKeyIsRefusedOnceThePinOpensTheFile) {
    test::CertificateSpec otherSpec;
    otherSpec.commonName = "Мария Георгиева";
    const TestIdentity other = pki_->issue(otherSpec);
    store_.addExported("user", *user_, kPin);
    store_.addCompanion("user", ".crt", other, CertStoreFolder::Encoding::Pem);
    ASSERT_EQ(signer_.listCertificates().size(), 1u);
    LogCapture log;
    EXPECT_TRUE(signer_.signData(data_, other.thumbprint(), kPin).empty());
    EXPECT_EQ(
        log.count("WARN", "CertStore: " + store_.path() + "/user.crt is not the certificate of the key in " +
                              store_.path() + "/user.p12"),
        1);
}

// Entries that are no regular files, or far too large to be certificates,
// are left out with their (escaped) path; a FIFO never holds the listing.
TEST_F(SignerWinTest, UnusableStoreFilesAreLeftOutWithTheirPath) {
    const std::string dir = store_.path();
    store_.addSoftware("soft", *user_);
    test::makeFifo(dir + "/soft.json");
    test::makeFifo(dir + "/fi\nfo.p12");
    test::writeSparseFile(dir + "/large.p12", std::string(1, '\x30'), 5 * 1024 * 1024);

    // In a child: a listing that waits on a FIFO is killed at the deadline.
    const test::ChildOutput out = test::runInChildForText([&] {
        LogCapture log;
        std::string text;
        for (const CertificateInfo& info : signer_.listCertificates()) {
            text += "id " + info.id + " " + info.provider + "\n";
        }
        for (const std::string& line : log.stop()) {
            text += line + "\n";
        }
        return text;
    });
    ASSERT_EQ(out.end, 0) << out.text;
    const std::string& text = out.text;
    EXPECT_NE(text.find("id " + user_->thumbprint() + " Microsoft Software Key Storage Provider\n"),
              std::string::npos)
        << text;
    for (const std::string& warning :
         {"[WARN ] CertStore: cannot read " + dir + "/soft.json\n",
          "[WARN ] CertStore: cannot read " + dir + "/fi\\x0Afo.p12\n",
          "[WARN ] CertStore: larger than 4 MiB, not read: " + dir + "/large.p12\n"}) {
        EXPECT_NE(text.find(warning), std::string::npos) << warning << "\n" << text;
    }
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4) << text;
}

TEST_F(SignerWinTest, StoreThatCannotBeReadIsAnErrorMissingOneIsEmpty) {
    {
        test::ScopedEnv dir("VELK_CERT_STORE_DIR", home_.dir().sub("absent"));
        LogCapture log;
        EXPECT_TRUE(signer_.listCertificates().empty());
        EXPECT_TRUE(log.stop().empty());
    }
    const std::string file = home_.dir().sub("not-a-folder");
    std::ofstream(file) << "x";
    test::ScopedEnv dir("VELK_CERT_STORE_DIR", file);
    LogCapture log;
    EXPECT_TRUE(signer_.listCertificates().empty());
    EXPECT_EQ(log.count("ERROR", "CertOpenSystemStoreW(MY) failed: 20"), 1);
}

struct IdCase {
    const char* name;
    std::string (*make)(const std::string& thumbprint);
    bool found;
};

void PrintTo(const IdCase& c, std::ostream* os) {
    *os << c.name;
}

class CertificateIdTest : public SignerWinTest, public testing::WithParamInterface<IdCase> {};

TEST_P(CertificateIdTest, ThumbprintIsReadAsTwentyHexBytes) {
    store_.addSoftware("soft", *user_);
    const std::string id = GetParam().make(user_->thumbprint());
    LogCapture log;
    EXPECT_EQ(signer_.signData(data_, id, "").empty(), !GetParam().found);
    EXPECT_EQ(signer_.signDataForPortal(data_, id, "").empty(), !GetParam().found);
    EXPECT_EQ(log.count("ERROR", "Certificate not found: " + id), GetParam().found ? 0 : 2);
    EXPECT_EQ(signer_.getCertificateDer(id).empty(), !GetParam().found);
}

INSTANTIATE_TEST_SUITE_P(
    Ids, CertificateIdTest,
    testing::Values(IdCase{"UpperCase", [](const std::string& t) { return t; }, true},
                    IdCase{"LowerCase",
                           [](const std::string& t) {
                               std::string s = t;
                               for (char& c : s) {
                                   c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                               }
                               return s;
                           },
                           true},
                    IdCase{"OneCharacterMore", [](const std::string& t) { return t + "Z"; }, true},
                    IdCase{"WithColon",
                           [](const std::string& t) { return t.substr(0, 2) + ":" + t.substr(3); }, false},
                    IdCase{"WithBlank", [](const std::string& t) { return " " + t.substr(1); }, false},
                    IdCase{"TooShort", [](const std::string& t) { return t.substr(0, 38); }, false},
                    IdCase{"Unknown", [](const std::string&) { return std::string(40, 'A'); }, false}),
    [](const testing::TestParamInfo<IdCase>& info) { return std::string(info.param.name); });

TEST_F(SignerWinTest, GivenPinUnlocksAndIsCachedForLaterUse) {
    usePinProtected();
    scriptPrompt(PinAnswer{platform::kScardWCancelledByUser, ""});
    EXPECT_FALSE(signer_.signData(data_, user_->thumbprint(), kPin).empty());
    EXPECT_EQ(ProviderPinCache::lookup(user_->thumbprint()), kPin);
    EXPECT_FALSE(signer_.signDataForPortal(data_, user_->thumbprint(), "").empty());
    EXPECT_EQ(promptCalls_, 0);
}

TEST_F(SignerWinTest, WrongPinRaisesInvalidPinWithTheProvidersLine) {
    usePinProtected();
    LogCapture log;
    EXPECT_THROW(signer_.signData(data_, user_->thumbprint(), "0000"), InvalidPinException);
    EXPECT_THROW(signer_.signDataForPortal(data_, user_->thumbprint(), "0000"), InvalidPinException);
    EXPECT_EQ(log.count("WARN", "NCryptSetProperty(NCRYPT_PIN_PROPERTY) -> 0x8010006B"), 2);
    EXPECT_EQ(ProviderPinCache::lookup(user_->thumbprint()), std::nullopt);
}

TEST_F(SignerWinTest, WrongPinOnLegacyKeyLogsTheCryptoApiLine) {
    usePinProtected("capi");
    LogCapture log;
    EXPECT_THROW(signer_.signData(data_, user_->thumbprint(), "0000"), InvalidPinException);
    EXPECT_EQ(log.count("WARN", "CryptSetProvParam(PP_SIGNATURE_PIN) -> 2148532331"), 1);
}

TEST_F(SignerWinTest, SoftwareKeyIgnoresAGivenPin) {
    store_.addSoftware("soft", *user_);
    EXPECT_FALSE(signer_.signData(data_, user_->thumbprint(), "anything").empty());
}

struct PromptCase {
    const char* name;
    PinAnswer answer;
    int outcome;  // 0 signed, 1 InvalidPinException, 2 SigningCancelledException
};

void PrintTo(const PromptCase& c, std::ostream* os) {
    *os << c.name;
}

class PinPromptTest : public SignerWinTest, public testing::WithParamInterface<PromptCase> {};

TEST_P(PinPromptTest, EmptyPinWithNothingCachedAsksThePrompt) {
    usePinProtected();
    scriptPrompt(GetParam().answer);
    LogCapture log;
    for (const bool portal : {false, true}) {
        const auto sign = [&] {
            return portal ? signer_.signDataForPortal(data_, user_->thumbprint(), "")
                          : signer_.signData(data_, user_->thumbprint(), "");
        };
        switch (GetParam().outcome) {
            case 0:
                EXPECT_FALSE(sign().empty());
                break;
            case 1:
                EXPECT_THROW(sign(), InvalidPinException);
                break;
            default:
                EXPECT_THROW(sign(), SigningCancelledException);
                break;
        }
    }
    // An accepted answer is cached, so only the first signature asks.
    EXPECT_EQ(promptCalls_, GetParam().outcome == 0 ? 1 : 2);
    EXPECT_EQ(lastPromptId_, user_->thumbprint());
    // The smart-card statuses are reported by exception, not logged.
    EXPECT_EQ(log.count("ERROR"), 0);
}

INSTANTIATE_TEST_SUITE_P(Answers, PinPromptTest,
                         testing::Values(PromptCase{"RightPin", {platform::kStatusOk, "4321"}, 0},
                                         PromptCase{"TypedWrongPin", {platform::kStatusOk, "0000"}, 1},
                                         PromptCase{"WrongChv", {platform::kScardWWrongChv, ""}, 1},
                                         PromptCase{"ChvBlocked", {platform::kScardWChvBlocked, ""}, 1},
                                         PromptCase{"Cancelled", {platform::kScardWCancelledByUser, ""}, 2}),
                         [](const testing::TestParamInfo<PromptCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(SignerWinTest, WithoutPromptHookTheProviderCancels) {
    usePinProtected();
    EXPECT_THROW(signer_.signData(data_, user_->thumbprint(), ""), SigningCancelledException);
}

TEST_F(SignerWinTest, WarmUpTellsRightFromWrongAndPassesCancellationOn) {
    usePinProtected();
    LogCapture log;
    EXPECT_FALSE(signer_.warmUp(user_->thumbprint(), "0000"));
    EXPECT_THROW(signer_.warmUp(user_->thumbprint(), ""), SigningCancelledException);
    EXPECT_TRUE(signer_.warmUp(user_->thumbprint(), kPin));
    // Primed: a later use without PIN (the TLS handshake, say) does not ask.
    EXPECT_EQ(ProviderPinCache::lookup(user_->thumbprint()), kPin);
    EXPECT_TRUE(signer_.warmUp(user_->thumbprint(), ""));
    EXPECT_FALSE(signer_.warmUp(std::string(40, 'A'), kPin));
}

TEST_F(SignerWinTest, CachedPinTheKeyNoLongerTakesIsDropped) {
    usePinProtected();
    ProviderPinCache::remember(user_->thumbprint(), "9999");
    scriptPrompt(PinAnswer{platform::kScardWCancelledByUser, ""});
    EXPECT_THROW(signer_.signData(data_, user_->thumbprint(), ""), InvalidPinException);
    EXPECT_EQ(ProviderPinCache::lookup(user_->thumbprint()), std::nullopt);
    EXPECT_THROW(signer_.signData(data_, user_->thumbprint(), ""), SigningCancelledException);
}

TEST_F(SignerWinTest, LegacyKeySignsButCannotMakeThePortalSignature) {
    usePinProtected("capi");
    LogCapture log;
    EXPECT_FALSE(signer_.signData(data_, user_->thumbprint(), kPin).empty());
    EXPECT_TRUE(signer_.signDataForPortal(data_, user_->thumbprint(), kPin).empty());
    EXPECT_EQ(
        log.count(
            "ERROR",
            "signDataForPortal: legacy CAPI raw-sign is not implemented; this cert must use CNG/NCrypt."),
        1);
    EXPECT_EQ(log.count("ERROR", "CmsBuilder: CMS_final failed"), 1);
}

TEST_F(SignerWinTest, CertificateWithoutKeyCannotSign) {
    store_.add("nokey", TestPki::pkcs12WithoutKey(*user_));
    LogCapture log;
    EXPECT_TRUE(signer_.signData(data_, user_->thumbprint(), "").empty());
    EXPECT_EQ(log.count("ERROR", "CryptAcquireCertificatePrivateKey failed: 2148073494"), 1);
    EXPECT_EQ(signer_.getCertificateDer(user_->thumbprint()), user_->der());
}

}  // namespace
}  // namespace velk::signing
