#include <algorithm>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "infrastructure/java/ZezizUrBridge.h"
#include "java/FakeJavaHome.h"
#include "java/RecordingSigner.h"
#include "platform/AppPaths.h"
#include "support/LogCapture.h"

namespace velk::core::infra::java {
namespace {

using test::FakeJavaHome;
using test::LogCapture;
using test::RecordingSigner;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* kCert = "MIIBcert";

class BridgeProtocolTest : public testing::Test {
protected:
    std::vector<std::string> validate(const std::string& scenario) {
        return bridge_.validate(home_.folder("vat", scenario), progressSink());
    }

    ZezizUrSubmitResult submit(const std::string& scenario, const std::string& certificateId = "7:A107",
                               const std::string& iban = "") {
        return bridge_.submit(home_.folder("vat", scenario), signer_, certificateId, "", kCert, iban,
                              progressSink());
    }

    ZezizUrBridge::Progress progressSink() {
        return [this](const std::string& text) { progress_.push_back(text); };
    }

    std::vector<std::string> args() const {
        return FakeJavaHome::readLines(home_.folder("vat", "") + "/args.txt");
    }

    FakeJavaHome home_;
    ZezizUrBridge bridge_;
    RecordingSigner signer_;
    std::vector<std::string> progress_;
};

TEST_F(BridgeProtocolTest, AValidFolderPassesWhateverTheValidatorPrinted) {
    EXPECT_TRUE(validate("echo 'stat: 3 files'; echo 'all good'; exit 0").empty());
    EXPECT_THAT(progress_, ElementsAre("Търсене на Java…", "Готово.", "Стартиране на валидация…",
                                       "Валидацията премина успешно."));
    const std::string native = platform::zezizUrNativeDir();
    const std::string wrapper = platform::zezizUrWrapperDir();
    const std::string jars = home_.clientDir();
    EXPECT_THAT(args(), ElementsAre("-Djava.awt.headless=true", "-Dfile.encoding=UTF-8",
                                    "-Djava.library.path=" + native, "-cp",
                                    wrapper + ":" + jars + "/VATClientService.jar:" + jars +
                                        "/SignerService.jar:" + jars + "/LSManager.jar",
                                    "VelkVatUploader", "validate", "lc=C.UTF-8"));
}

TEST_F(BridgeProtocolTest, ValidationErrorsComeFromTheOutputThenTheErrorStream) {
    EXPECT_THAT(validate("echo ' Ред 3: грешна дата'; echo 'stat: 1'; echo 'Ред 3: грешна дата'; "
                         "echo 'x stat: y'; echo 'trace' >&2; exit 1"),
                ElementsAre("Ред 3: грешна дата", "x stat: y"));
    EXPECT_EQ(progress_.back(), "Намерени грешки: 2");
    EXPECT_THAT(
        validate("echo 'maxProgress 10'; echo 'Exception in thread main' >&2; echo '  at X' >&2; exit 2"),
        ElementsAre("Exception in thread main", "at X"));
    EXPECT_THAT(validate("exit 4"),
                ElementsAre("Валидацията се провали (код 4). Виж VezoRodarC.log за пълен изход от Java."));
}

TEST_F(BridgeProtocolTest, TheChildLinesAndTheRunAreLogged) {
    LogCapture log;
    validate("echo 'bad'; echo 'why' >&2; exit 1");
    const std::string jars = home_.clientDir();
    EXPECT_EQ(log.count("INFO", "ZezizUR validate: launching: " + bridge_.javaPath() +
                                    " -Djava.awt.headless=true -Dfile.encoding=UTF-8 -Djava.library.path=" +
                                    platform::zezizUrNativeDir() + " -cp " + platform::zezizUrWrapperDir() +
                                    ":" + jars + "/VATClientService.jar:" + jars +
                                    "/SignerService.jar:" + jars + "/LSManager.jar VelkVatUploader validate"),
              1);
    EXPECT_EQ(log.count("INFO", "ZezizUR validate: stdin → DIR:"), 1);
    EXPECT_EQ(log.count("INFO", "ZezizUR validate: exit=1 stdout_lines=1 stderr_bytes=4"), 1);
    EXPECT_EQ(log.count("INFO", "  [stdout] bad"), 1);
    EXPECT_EQ(log.count("INFO", "  [stderr] why"), 1);
}

TEST_F(BridgeProtocolTest, AFolderWithALineBreakIsRefusedBeforeJavaRuns) {
    EXPECT_THAT(bridge_.validate(home_.folder("vat", "exit 0") + "\nSIGNATURE:Zm9v", {}),
                ElementsAre("Невалиден път до папката: съдържа знак за нов ред."));
    EXPECT_TRUE(args().empty());
}

TEST_F(BridgeProtocolTest, SigningRequestsAreAnsweredOneByOneWithTheChosenCertificate) {
    const ZezizUrSubmitResult result = submit(
        "printf 'SIGN:%s \\r\\n' \"$(printf 'DEKLAR bytes' | base64)\"; IFS= read -r a; echo \"$a\" > "
        "\"$dir/a1\"\n"
        "echo 'SIGN:'; IFS= read -r b; echo \"$b\" > \"$dir/a2\"\n"
        "echo 'Прогрес: Изпращане 50%' >&2; echo 'an error-stream line' >&2\n"
        "echo \"answers:$a|$b\"; echo SUCCESS; exit 0");
    EXPECT_TRUE(result.ok) << result.message;
    EXPECT_EQ(result.message, "");
    ASSERT_EQ(signer_.requests.size(), 2u);
    EXPECT_EQ(signer_.requests[0].data, "DEKLAR bytes");
    EXPECT_EQ(signer_.requests[0].certificateId, "7:A107");
    EXPECT_EQ(signer_.requests[0].pin, "");
    EXPECT_EQ(signer_.requests[1].data, "");
    EXPECT_THAT(result.output,
                HasSubstr("answers:SIGNATURE:c2lnbmVkOkRFS0xBUiBieXRlcw==|SIGNATURE:c2lnbmVkOg==\n"));
    EXPECT_THAT(result.output, HasSubstr("an error-stream line\n"));
    EXPECT_THAT(result.output, ::testing::Not(HasSubstr("Прогрес")));
    EXPECT_THAT(progress_, ::testing::IsSupersetOf(
                               {"Подписване с електронен подпис…", "Изпращане 50%", "Успешно подадено."}));
    EXPECT_THAT(args(), ElementsAre(::testing::_, ::testing::_, ::testing::_, ::testing::_, ::testing::_,
                                    "VelkVatUploader", "pipe", "", kCert, "lc=C.UTF-8"));
}

TEST_F(BridgeProtocolTest, OutcomesOfAFiling) {
    struct Case {
        std::string scenario;
        bool ok;
        std::string message;
        std::vector<std::string> nativeErrors;
    };
    const std::vector<Case> cases = {
        {"exit 0", true, "", {}},
        {"echo 'NATIVE_ERROR: Невалиден ЕИК '; exit 0", false, "Невалиден ЕИК", {"Невалиден ЕИК"}},
        {"echo 'ERROR:first'; echo 'ERROR: second '; exit 1", false, "second", {}},
        {"echo 'NATIVE_ERROR:a'; echo 'NATIVE_ERROR:b'; exit 2", false, "a", {"a", "b"}},
        {"exit 3", false, "Процесът завърши с код 3", {}},
        {"echo SUCCESS; kill -KILL $$", false, "Процесът завърши с код 137", {}},
        {"printf 'ERROR:bad \\377 byte\\n'; exit 1", false, "bad \xEF\xBF\xBD byte", {}},
        // An error without text still fails the run, and keeps the text before it.
        {"echo 'ERROR: x'; echo 'ERROR:'; exit 0", false, "x", {}},
        {"echo 'ERROR: '; exit 0", false, "Процесът завърши с код 0", {}},
        {"echo 'NATIVE_ERROR:'; echo 'NATIVE_ERROR: b'; exit 0", false, "b", {"", "b"}},
        {"echo 'NATIVE_ERROR: '; exit 0", false, "Процесът завърши с код 0", {""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        const ZezizUrSubmitResult result = submit(c.scenario);
        EXPECT_EQ(result.ok, c.ok);
        EXPECT_EQ(result.message, c.message);
        EXPECT_EQ(result.nativeErrors, c.nativeErrors);
    }
}

TEST_F(BridgeProtocolTest, AFailedSignatureIsAnEmptyAnswerAndTheRunGoesOn) {
    RecordingSigner refusing(RecordingSigner::Behaviour::WrongPin);
    LogCapture log;
    const ZezizUrSubmitResult result = bridge_.submit(
        home_.folder(
            "vat",
            "echo 'SIGN:AAAA'; IFS= read -r a; echo \"got[$a]\"; echo 'ERROR:Подписът липсва'; exit 1"),
        refusing, "7:A107", "ivan@example.bg", kCert, "BG80BNBG96611020345678", {});
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "Подписът липсва");
    EXPECT_THAT(result.output, HasSubstr("got[SIGNATURE:]\n"));
    EXPECT_EQ(log.count("ERROR", "ZezizUR signer.signData: Грешен PIN код."), 1);
    EXPECT_THAT(args(), ElementsAre(::testing::_, ::testing::_, ::testing::_, ::testing::_, ::testing::_,
                                    "VelkVatUploader", "pipe", "ivan@example.bg", kCert,
                                    "BG80BNBG96611020345678", "lc=C.UTF-8"));
}

TEST_F(BridgeProtocolTest, NoFilingWithoutACertificateOrTheEncryptionCertificate) {
    ZezizUrSubmitResult result = submit("echo 'SIGN:AAAA'; read a; exit 0", "");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "Не е избран сертификат");
    EXPECT_TRUE(signer_.requests.empty());
    EXPECT_TRUE(args().empty());

    result = bridge_.submit(home_.folder("vat", "exit 0"), signer_, "7:A107", "", "", "", {});
    EXPECT_EQ(result.message,
              "Липсва NAP encryption cert (base64). Попълни features/vat/NraEncryptionCert "
              "kNraEncryptionCertBase64.");
    EXPECT_TRUE(args().empty());
}

TEST_F(BridgeProtocolTest, AnInstallationThatCannotCompleteStopsTheRun) {
    std::filesystem::remove(home_.clientDir() + "/native/vatclient.dll");
    LogCapture log;
    EXPECT_THAT(validate("exit 0"), ElementsAre("Java или ZezizUR библиотеките не са налични."));
    EXPECT_EQ(log.count("WARN", "Missing native lib: "), 1);
    EXPECT_EQ(log.count("ERROR",
                        "JnlpDownloader: failed to fetch JNLP manifest — likely not logged in to "
                        "portal.nra.bg"),
              1);
    EXPECT_EQ(log.count("ERROR", "ZezizUR: JnlpDownloader returned 0 JARs"), 1);
    EXPECT_TRUE(args().empty());
    // Java itself was found and stays known: the VAT operations install
    // again before each run, with the portal session's download.
    EXPECT_EQ(bridge_.javaPath(), std::getenv("JAVA_HOME") + std::string("/bin/java"));
    ZezizUrBridge other;
    EXPECT_EQ(other.submit(home_.folder("vat", "exit 0"), signer_, "7:A107", "", kCert, "", {}).message,
              "Java или ZezizUR библиотеките не са налични.");
}

TEST_F(BridgeProtocolTest, RepeatedInstallationsListEachJarOnce) {
    ASSERT_TRUE(bridge_.ensureInstalled({}));
    ASSERT_TRUE(bridge_.ensureInstalled({}));
    EXPECT_THAT(bridge_.jars(),
                ElementsAre(home_.clientDir() + "/VATClientService.jar",
                            home_.clientDir() + "/SignerService.jar", home_.clientDir() + "/LSManager.jar"));
}

}  // namespace
}  // namespace velk::core::infra::java
