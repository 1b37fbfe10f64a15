// The VAT return end to end: the engine runs vat_validate, vat and
// vat_result for a sender whose key lives on a SoftHSM token, against the
// fake agency, with the real JDK running the agent's VelkVatUploader and the
// stand-in client. The pkcs11 engine is process-wide and SoftHSM reads its
// configuration once: one token for the executable, its tests in order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "engine/EngineOnToken.h"
#include "fakes/agency/VatTextFixtures.h"
#include "infrastructure/java/ZezizUrBridge.h"
#include "support/DetachedCms.h"

namespace velk::test {
namespace {

namespace fs = std::filesystem;
using core::json;
using testing::HasSubstr;

constexpr const char* kEik = EngineOnToken::kEik;

class VatFilingThroughTheEngine : public testing::Test {
protected:
    static void SetUpTestSuite() {
        javaHome_ =
            new ScopedEnv("JAVA_HOME", fs::canonical(VELK_TEST_JAVA).parent_path().parent_path().string());
        encryptionCert_ = new ScopedEnv("VELK_TEST_NRA_ENCRYPTION_CERT", "MIIBstandInEncryptionCert");
        bridge_ = new core::infra::java::ZezizUrBridge;
        world_ = new EngineOnToken({.ckaId = {0x43}, .bridge = bridge_});
    }
    static void TearDownTestSuite() {
        delete world_;
        delete bridge_;
        delete encryptionCert_;
        delete javaHome_;
    }

    static json run(const std::string& typeId, const json& params, std::optional<std::string> filePath = {}) {
        return world_->run(typeId, params, std::move(filePath));
    }

    // A return of March 2025 for the company.
    static std::string returnFolder() {
        const std::string dir = world_->home().dir().sub("ДДС 2025-03");
        fs::create_directories(dir);
        std::ofstream(dir + "/DEKLAR.TXT", std::ios::binary)
            << deklarLine("BG123456789", "Тест ЕООД", "202503") << "\r\n";
        std::ofstream(dir + "/POKUPKI.TXT", std::ios::binary)
            << journalLine("BG123456789", "P-1", "Доставчик АД", "100.00") << "\r\n";
        std::ofstream(dir + "/PRODAGBI.TXT", std::ios::binary)
            << journalLine("BG123456789", "S-1", "Клиент ООД", "300.00") << "\r\n";
        return dir;
    }

    static ScopedEnv* javaHome_;
    static ScopedEnv* encryptionCert_;
    static core::infra::java::ZezizUrBridge* bridge_;
    static EngineOnToken* world_;
};

ScopedEnv* VatFilingThroughTheEngine::javaHome_ = nullptr;
ScopedEnv* VatFilingThroughTheEngine::encryptionCert_ = nullptr;
core::infra::java::ZezizUrBridge* VatFilingThroughTheEngine::bridge_ = nullptr;
EngineOnToken* VatFilingThroughTheEngine::world_ = nullptr;

TEST_F(VatFilingThroughTheEngine, AReturnIsValidatedFiledConfirmedAndItsDocumentReadBack) {
    ASSERT_FALSE(SoftHsmToken::modulePath().empty()) << "SoftHSM2 is required";
    const std::string folder = returnFolder();

    const json validated = run("vat_validate", {{"directory", folder}});
    EXPECT_EQ(validated["status"], "ok") << validated.dump();
    EXPECT_EQ(validated["errorCount"], 0);

    // Which row of the results page confirms a filing (never an earlier one
    // of the period) is shown by the operation's own tests; here the run goes
    // through the engine: numbers as the engine writes them ("2025.000000"),
    // the token's key, the session's pauses through the engine's sleeper.
    const json filed = run("vat", {{"eik", kEik}, {"year", 2025}, {"month", 3}}, folder);
    ASSERT_EQ(filed.value("success", false), true) << filed.dump();
    EXPECT_EQ(filed["documentId"], "890001");
    EXPECT_EQ(filed["incomeNumber"], "25-1001");
    EXPECT_TRUE(filed["nativeErrors"].is_null() || filed["nativeErrors"].empty()) << filed.dump();
    EXPECT_THAT(world_->pauses(), testing::Contains(std::chrono::milliseconds(1000)));

    const std::vector<VatReceipt> receipts = world_->agency().vat().receipts();
    ASSERT_EQ(receipts.size(), 1u);
    const std::string& deklar = receipts[0].files.at("DEKLAR.TXT");
    const auto cms = DetachedCms::parse(receipts[0].signature);
    ASSERT_TRUE(cms);
    EXPECT_TRUE(cms->verify(std::vector<std::uint8_t>(deklar.begin(), deklar.end()),
                            world_->hosts().pki().trustStore().get()));

    const json result = run("vat_result", {{"documentId", filed["documentId"]}, {"eik", kEik}});
    EXPECT_EQ(result["status"], "ok") << result.dump();
    EXPECT_EQ(result["rawBodyUrl"],
              "https://portal.nra.bg/pls/pub/ivat.pub.ShowDocument?ipId=890001&ipDocType=20");
    EXPECT_THAT(result["rawBody"].get<std::string>(), HasSubstr("Вх. № 25-1001"));
}

}  // namespace
}  // namespace velk::test
