// Filings end to end: the engine runs the operations for a sender whose key
// lives on a SoftHSM token, against the fake agency, whose checks (gzip,
// CR LF, CMS, JSON) stand for what the agency would accept. The pkcs11
// engine is process-wide and SoftHSM reads its configuration once: one token
// for the executable, its tests in order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "engine/EngineOnToken.h"

namespace velk::test {
namespace {

using core::json;
using testing::HasSubstr;

constexpr const char* kEik = EngineOnToken::kEik;

class FilingThroughTheEngine : public testing::Test {
protected:
    static void SetUpTestSuite() {
        world_ = new EngineOnToken({.ckaId = {0x42}, .apiKey = RestApiRoutes::kDefaultApiKey});
    }
    static void TearDownTestSuite() { delete world_; }
    void TearDown() override {
        EXPECT_TRUE(world_->agency().pls().rejections().empty())
            << world_->agency().pls().rejections().front();
        EXPECT_TRUE(world_->agency().restApi().rejections().empty())
            << world_->agency().restApi().rejections().front();
    }

    static json run(const std::string& typeId, const json& params, std::optional<std::string> filePath = {}) {
        return world_->run(typeId, params, std::move(filePath));
    }

    static std::string writeFile(const std::string& name, const std::string& bytes) {
        const std::string path = world_->home().dir().sub(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    static EngineOnToken* world_;
};

EngineOnToken* FilingThroughTheEngine::world_ = nullptr;

TEST_F(FilingThroughTheEngine, AuditFileIsFiledMatchedInTheAjaxListingAndReadBack) {
    const std::string path = writeFile("audit.xml", "\xEF\xBB\xBF<AuditFile>\n  <Header/>\n</AuditFile>\n");
    const std::size_t pausesBefore = world_->pauses().size();
    const json filed = run("odit", {{"eik", kEik}, {"year", 2025}, {"month", 3}}, path);
    ASSERT_EQ(filed.value("success", false), true) << filed.dump();
    // The portal's pauses reach the sleeper the engine was given.
    EXPECT_GT(world_->pauses().size(), pausesBefore);
    const std::string documentId = filed["documentId"];
    EXPECT_FALSE(documentId.empty());
    EXPECT_EQ(filed["incomeNumber"], std::to_string(2400000000LL + std::stoll(documentId)));
    EXPECT_EQ(filed["submissionDate"], "15.04.2025");
    EXPECT_EQ(world_->agency().pls().documents().back().content,
              "<AuditFile>\r\n  <Header/>\r\n</AuditFile>\r\n");
    EXPECT_EQ(world_->agency().pls().documents().back().month, 3);

    const json result = run("odit_result", {{"documentId", documentId}, {"eik", kEik}});
    EXPECT_EQ(result["status"], "ok") << result.dump();
    EXPECT_EQ(result["rawBodyContentType"], "application/json");
    const json row = json::parse(result["rawBody"].get<std::string>());
    EXPECT_EQ(row["documentId"], documentId);
    EXPECT_EQ(row["incomeNumber"], filed["incomeNumber"]);
    EXPECT_EQ(row["periodMonth"], "3");
    EXPECT_EQ(row["periodYear"], "2025");
}

TEST_F(FilingThroughTheEngine, IncomeStatementIsFiledMatchedInTheHtmlListingAndItsPageReadBack) {
    const std::string path = writeFile("dec731.txt", "Справка\r\nред 2\n");
    const json filed = run("dec731", {{"eik", kEik}, {"year", 2025}}, path);
    ASSERT_EQ(filed.value("success", false), true) << filed.dump();
    const std::string documentId = filed["documentId"];
    EXPECT_EQ(filed["incomeNumber"], std::to_string(2400000000LL + std::stoll(documentId)));
    EXPECT_EQ(world_->agency().pls().documents().back().module, "dec2009.ipubxsd_val_dec");

    const json result = run("dec731_result", {{"documentId", documentId}, {"eik", kEik}});
    EXPECT_EQ(result["status"], "ok") << result.dump();
    EXPECT_EQ(result["rawBodyUrl"],
              "https://portal.nra.bg/pls/pub/DEC2009.IPUBXSD_VAL_DEC.showResult?pid=" + documentId);
    EXPECT_EQ(result["rawBodyContentType"], "text/html; charset=utf-8");
    EXPECT_THAT(result["rawBody"].get<std::string>(), HasSubstr("Документът е приет и обработен."));
}

TEST_F(FilingThroughTheEngine, NoticeIsFiledThroughTheRestApiAndItsReceiptReadBack) {
    const std::string path = writeFile("etz62.xml", "<?xml version=\"1.0\"?><Notice>ред</Notice>");
    const json filed = run("etz62", {{"eik", kEik}}, path);
    ASSERT_EQ(filed.value("success", false), true) << filed.dump();
    const std::string documentId = filed["documentId"];
    const RestDocument accepted = world_->agency().restApi().documents().back();
    EXPECT_EQ(accepted.documentId, documentId);
    EXPECT_EQ(accepted.content, "<?xml version=\"1.0\"?><Notice>ред</Notice>");
    EXPECT_EQ(accepted.userPin, kEik);

    const json result = run("etz62_result", {{"documentId", documentId}, {"eik", kEik}});
    EXPECT_EQ(result["status"], "ok") << result.dump();
    EXPECT_EQ(result["rawBodyUrl"], "https://api.nra.bg/declaration/api-declarations/result");
    EXPECT_THAT(result["rawBody"].get<std::string>(), HasSubstr("Входящ № " + accepted.entryNumber));
}

TEST_F(FilingThroughTheEngine, Forms1And6AreFiledTogetherAndTheirReceiptReadBack) {
    const std::string form1 = "3,2025,123456789,8001010000,a,b,c,d\r\n\xC8\xE2\xE0\xED,1\r\n";
    const std::string d1 = writeFile("EMPL2021.TXT", form1);
    const std::string d6 = writeFile("NRA62007.TXT", "123456789,a,b,c,d,e,3,2025,31/03/2025,f,5,g\r\n");
    // The numbers arrive as the engine writes them ("2025.000000"); the
    // agency takes the year's digits only.
    const json filed =
        run("dec1_6",
            {{"year", 2025}, {"month", 3}, {"fund", false}, {"dec1FilePath", d1}, {"dec6FilePath", d6}});
    ASSERT_EQ(filed.value("success", false), true) << filed.dump();
    const std::string documentId = filed["documentId"];
    const RestDocument accepted = world_->agency().restApi().documents().back();
    EXPECT_EQ(accepted.documentId, documentId);
    EXPECT_EQ(accepted.serviceDocumentType, "DEC_1_6");
    EXPECT_EQ(accepted.taxpayerPin, kEik);
    EXPECT_EQ(accepted.content, form1);
    const json request = json::parse(accepted.requestJson);
    EXPECT_EQ(request["year"], "2025");
    EXPECT_EQ(request["taxPeriodFrom"], "03");
    EXPECT_EQ(request["insuranceFund"], 0);
    ASSERT_EQ(request["files"].size(), 2u);
    EXPECT_EQ(request["files"][0]["numRecords"], 2);
    EXPECT_EQ(request["files"][1]["numRecords"], 1);

    const json result = run("dec1_6_result", {{"documentId", documentId}, {"eik", kEik}});
    EXPECT_EQ(result["status"], "ok") << result.dump();
    EXPECT_THAT(result["rawBody"].get<std::string>(), HasSubstr("Входящ № " + accepted.entryNumber));
}

}  // namespace
}  // namespace velk::test
