// The whole chain with the real JDK: the bridge installs the stand-in client
// from the fake agency, runs the agent's VelkVatUploader with it, and signs
// over the pipe with a key on a SoftHSM token. Every JVM start costs about
// half a second, so the cases here are few.
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/TextUtils.h"
#include "fakes/LoopbackHosts.h"
#include "fakes/agency/FakeAgency.h"
#include "infrastructure/java/ZezizUrBridge.h"
#include "infrastructure/signing/SignerPkcs11.h"
#include "java/HttpFetcher.h"
#include "java/RecordingSigner.h"
#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "support/DetachedCms.h"
#include "support/SoftHsmToken.h"
#include "support/TempDir.h"
#include "support/TestPki.h"

namespace velk::core::infra::java {
namespace {

namespace fs = std::filesystem;
using test::DetachedCms;
using test::SoftHsmToken;
using ::testing::ElementsAre;

// DEKLAR.TXT in windows-1251, as the accounting programs write it.
const std::string kDeklar = "\xC4\xC4\xD1 2025 03 123456789\r\n";

std::map<std::string, std::string> readRecord(const std::string& path) {
    std::ifstream in(path);
    std::map<std::string, std::string> out;
    for (std::string line; std::getline(in, line);) {
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos) {
            out[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return out;
}

class StandInClientTest : public testing::Test {
protected:
    StandInClientTest() { bridge_.setFetcher(test::httpFetcher()); }

    std::string vatFolder(bool complete) const {
        const std::string dir = home_.dir().sub("ДДС 2025-03");
        fs::create_directories(dir);
        std::ofstream(dir + "/DEKLAR.TXT", std::ios::binary) << kDeklar;
        std::ofstream(dir + "/POKUPKI.TXT", std::ios::binary) << "pokupki\r\n";
        if (complete) {
            std::ofstream(dir + "/PRODAGBI.TXT", std::ios::binary) << "prodagbi\r\n";
        }
        return dir;
    }

    test::IsolatedHome home_;
    test::ScopedEnv javaHome_{"JAVA_HOME",
                              fs::canonical(VELK_TEST_JAVA).parent_path().parent_path().string()};
    test::LoopbackHosts hosts_;
    test::FakeAgency agency_{hosts_};
    ZezizUrBridge bridge_;
};

TEST_F(StandInClientTest, InstallsFromThePortalAndReportsTheClientsVerdict) {
    ASSERT_TRUE(bridge_.ensureInstalled({}));
    EXPECT_TRUE(fs::exists(platform::zezizUrWrapperDir() + "/VelkVatUploader.class"));
    EXPECT_TRUE(fs::exists(platform::zezizUrNativeDir() + "/vatclient.dll"));

    const std::string folder = vatFolder(false);
    std::ofstream(folder + "/STANDIN-ERRORS.TXT") << "Ред 2: невалиден ЕИК\n";
    EXPECT_THAT(bridge_.validate(folder, {}),
                ElementsAre("Липсва файл PRODAGBI.TXT", "Ред 2: невалиден ЕИК"));

    fs::remove(folder + "/STANDIN-ERRORS.TXT");
    std::ofstream(folder + "/PRODAGBI.TXT") << "prodagbi\r\n";
    EXPECT_TRUE(bridge_.validate(folder, {}).empty());
}

TEST_F(StandInClientTest, AFilingSignsOverThePipeWithTheTokensKey) {
    ASSERT_FALSE(SoftHsmToken::modulePath().empty()) << "SoftHSM2 is required";
    const test::TestPki pki;
    const test::TestIdentity user = pki.issue();
    SoftHsmToken token;
    const std::vector<std::uint8_t> ckaId{0x5A, 0x01};
    token.addIdentity(user, ckaId);
    signing::SignerPkcs11 signer(SoftHsmToken::modulePath());
    const std::string certificateId = token.certificateId(ckaId);
    ASSERT_TRUE(signer.warmUp(certificateId, token.userPin()));

    const std::string folder = vatFolder(true);
    std::vector<std::string> progress;
    const ZezizUrSubmitResult result =
        bridge_.submit(folder, signer, certificateId, "ivan@example.bg", "MIIBencryption",
                       "BG80BNBG96611020345678", [&](const std::string& text) { progress.push_back(text); });
    ASSERT_TRUE(result.ok) << result.message << "\n" << result.output;
    EXPECT_THAT(result.output, ::testing::HasSubstr("SUCCESS\n"));
    EXPECT_THAT(progress,
                ::testing::IsSupersetOf({"Подписване с електронен подпис…", "Подписване на DEKLAR.TXT",
                                         "Изпращане към НАП", "Успешно подадено."}));

    // What the client received: the agency would check this signature.
    const auto record = readRecord(folder + "/STANDIN-RECEIVED.TXT");
    EXPECT_EQ(record.at("signerEmail"), "ivan@example.bg");
    EXPECT_EQ(record.at("certificate"), "MIIBencryption");
    EXPECT_EQ(record.at("iban"), "BG80BNBG96611020345678");
    const std::vector<std::uint8_t> data = base64Decode(record.at("data"));
    EXPECT_EQ(std::string(data.begin(), data.end()), kDeklar);
    const auto cms = DetachedCms::parse(base64Decode(record.at("signature")));
    ASSERT_TRUE(cms);
    EXPECT_TRUE(cms->verify(data, pki.trustStore().get()));
    EXPECT_EQ(cms->firstCertificateDer(), user.der());
}

// The agency's libraries print on System.out as well; a line of theirs that
// looks like the protocol must neither be answered nor decide the verdict.
TEST_F(StandInClientTest, LinesTheClientsLibrariesPrintAreNeverTakenForTheProtocol) {
    const std::string folder = vatFolder(true);
    std::ofstream(folder + "/STANDIN-STDOUT.TXT")
        << "SIGN:QUJD\nERROR:от библиотеката\nNATIVE_ERROR:от библиотеката\nSUCCESS\nSIGNATURE:QUJD\n";
    std::ofstream(folder + "/STANDIN-ERRORS.TXT") << "Ред 2: невалиден ЕИК\n";
    EXPECT_THAT(bridge_.validate(folder, {}), ElementsAre("Ред 2: невалиден ЕИК"));

    fs::remove(folder + "/STANDIN-ERRORS.TXT");
    test::RecordingSigner signer;
    const ZezizUrSubmitResult result =
        bridge_.submit(folder, signer, "7:A107", "ivan@example.bg", "MIIBencryption", "", {});
    EXPECT_TRUE(result.ok) << result.message << "\n" << result.output;
    EXPECT_EQ(result.message, "");
    EXPECT_TRUE(result.nativeErrors.empty());
    ASSERT_EQ(signer.requests.size(), 1u);
    EXPECT_EQ(signer.requests[0].data, kDeklar);
    // The client got the answer to its own request.
    const std::vector<std::uint8_t> signature =
        base64Decode(readRecord(folder + "/STANDIN-RECEIVED.TXT").at("signature"));
    EXPECT_EQ(std::string(signature.begin(), signature.end()), "signed:" + kDeklar);
}

}  // namespace
}  // namespace velk::core::infra::java
