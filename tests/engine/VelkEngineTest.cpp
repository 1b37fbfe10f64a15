#include "engine/VelkEngine.h"

#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "common/JsonUtils.h"
#include "engine/InMemorySettings.h"
#include "engine/TestOperations.h"
#include "engine/TwoSenderEngine.h"
#include "infrastructure/signing/ISigner.h"
#include "infrastructure/signing/PinStore.h"
#include "operations/IInquiry.h"
#include "operations/ISubmission.h"
#include "operations/OperationRegistry.h"
#include "operations/ResultProjection.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace velk::test {
namespace {

using core::json;
using core::operations::ExecuteResult;
using core::operations::ParamMap;

using ProgressLog = std::vector<std::pair<int, std::string>>;

class NoSigner : public signing::ISigner {
public:
    std::vector<signing::CertificateInfo> listCertificates() override { return {}; }
    signing::Bytes signData(const signing::Bytes&, const std::string&, const std::string&) override {
        return {};
    }
    bool warmUp(const std::string&, const std::string&) override { return false; }
    signing::Bytes getCertificateDer(const std::string&) override { return {}; }
};

class EngineTest : public ::testing::Test, protected TwoSenderEngine {
protected:
    EngineTest() { operationLog().reset(); }

    ExecuteResult run(const std::string& typeId, const std::string& params = "{}",
                      const std::string& senderId = "", std::optional<std::string> filePath = std::nullopt) {
        progress.clear();
        return engine->execute(
            typeId, params, filePath,
            [this](int percent, const std::string& stage) { progress.emplace_back(percent, stage); },
            senderId);
    }

    static json metadata(const ExecuteResult& result) { return json::parse(result.json).at("metadata"); }

    static std::string identityOf(const std::string& id) {
        return "EIK-" + id + "|5|CERT-" + id + "|KEY-" + id;
    }

    std::optional<ParamMap> lastParams() {
        std::lock_guard lock(operationLog().mutex);
        return operationLog().lastParams;
    }

    int runs() {
        std::lock_guard lock(operationLog().mutex);
        return operationLog().runs;
    }

    ProgressLog progress;
};

TEST_F(EngineTest, RefusesRealRunsUntilInitialisedAndAfterShutdown) {
    ExecuteResult result = run(kEchoOp);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.error, "VelkEngine not initialised");
    EXPECT_TRUE(progress.empty());

    LogCapture log;
    engine->initialise();
    engine->initialise();
    EXPECT_TRUE(run(kEchoOp).success);
    engine->shutdown();
    engine->shutdown();
    EXPECT_EQ(log.count("INFO", "VelkEngine: initialised"), 1);
    EXPECT_EQ(log.count("INFO", "VelkEngine: shut down"), 1);

    EXPECT_EQ(run(kEchoOp).error, "VelkEngine not initialised");
    engine->initialise();
    EXPECT_TRUE(run(kEchoOp).success);
}

TEST_F(EngineTest, RunsAnInquiryWithTheSessionOfTheActiveSender) {
    engine->initialise();
    const ExecuteResult result = run(kEchoOp);
    ASSERT_TRUE(result.success) << result.error;
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(metadata(result).at("identity"), identityOf("a"));
    EXPECT_EQ(progress, (ProgressLog{{0, "starting"}, {100, "done"}}));
}

TEST_F(EngineTest, SwitchesToTheRequestedSenderAndReconfiguresTheSession) {
    engine->initialise();
    const ExecuteResult result = run(kEchoOp, "{}", "b");
    ASSERT_TRUE(result.success) << result.error;
    EXPECT_EQ(metadata(result).at("identity"), identityOf("b"));
    EXPECT_EQ(settings->activeSenderId(), "b");

    // An empty sender id keeps the active one.
    EXPECT_EQ(metadata(run(kEchoOp)).at("identity"), identityOf("b"));
}

TEST_F(EngineTest, RefusesASenderThatIsNotThere) {
    engine->initialise();
    ExecuteResult result = run(kEchoOp, "{}", "nobody");
    EXPECT_EQ(result.error, "Unknown senderId: nobody");
    EXPECT_TRUE(progress.empty());
    EXPECT_EQ(settings->activeSenderId(), "a");

    // Removed between the lookup and the switch.
    settings->onSetActiveSender([this](const std::string& id) { settings->removeSender(id); });
    result = run(kEchoOp, "{}", "b");
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.error, "Unknown senderId: b");
    EXPECT_EQ(runs(), 0);
}

TEST_F(EngineTest, SwitchesTheSenderEvenForAnUnknownOperation) {
    engine->initialise();
    const ExecuteResult result = run("no_such_operation", "{}", "b");
    EXPECT_EQ(result.error, "Unknown operation: no_such_operation");
    EXPECT_TRUE(progress.empty());
    EXPECT_EQ(settings->activeSenderId(), "b");
}

TEST_F(EngineTest, FlattensParameters) {
    engine->initialise();
    struct Case {
        std::string json;
        ParamMap expected;
    };
    const std::vector<Case> cases = {
        {R"({"year":2025,"eik":"123456789","test":true,"list":[1],"none":null,"nested":{"a":1}})",
         {{"year", "2025.000000"}, {"eik", "123456789"}, {"test", "true"}}},
        {R"({"a":0.5,"b":1.23456789,"c":-3,"d":false,"e":18446744073709551615,"f":""})",
         {{"a", "0.500000"},
          {"b", "1.234568"},
          {"c", "-3.000000"},
          {"d", "false"},
          {"e", "18446744073709551616.000000"},
          {"f", ""}}},
        {R"([1,2,3])", {}},
        {R"("text")", {}},
        {"", {}},
        {" {\"кирилица\":\"стойност\"} ", {{"кирилица", "стойност"}}},
    };
    for (const auto& c : cases) {
        const ExecuteResult result = run(kEchoOp, c.json);
        ASSERT_TRUE(result.success) << c.json << ": " << result.error;
        EXPECT_EQ(lastParams(), c.expected) << c.json;
    }
}

TEST_F(EngineTest, RefusesParametersThatAreNotJsonBeforeRunning) {
    engine->initialise();
    for (const std::string text : {"not json", "{\"a\":1} trailing", "{/*c*/}", "{\"a\":\"\xC3\x28\"}"}) {
        LogCapture log;
        const ExecuteResult result = run(kEchoOp, text);
        EXPECT_FALSE(result.success);
        EXPECT_TRUE(result.error.starts_with("Invalid params JSON: [json.exception.parse_error"))
            << result.error;
        EXPECT_TRUE(progress.empty());
        EXPECT_TRUE(log.stop().empty());
    }
    EXPECT_EQ(runs(), 0);
}

TEST_F(EngineTest, SubmissionsAndTheirFilePath) {
    engine->initialise();

    ExecuteResult result = run(kFilingOp);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.error, "Submission requires a file path");
    EXPECT_EQ(progress, (ProgressLog{{0, "starting"}}));
    EXPECT_EQ(runs(), 0);

    // A present but empty path is not refused.
    result = run(kFilingOp, "{}", "", std::string());
    ASSERT_TRUE(result.success) << result.error;
    EXPECT_EQ(operationLog().lastFilePath, "");
    EXPECT_EQ(json::parse(result.json).at("incomeNumber"), "1234");

    result = run(kFilingOp, "{}", "", std::string("/tmp/декларация.xml"));
    EXPECT_TRUE(result.success);
    EXPECT_EQ(operationLog().lastFilePath, "/tmp/декларация.xml");

    result = run(kFilingAnyPathOp);
    EXPECT_TRUE(result.success);
    EXPECT_EQ(operationLog().lastFilePath, "");

    // Refused by the agency: its message, the receipt still projected.
    result = run(kFilingOp, R"({"fail":"true"})", "", std::string("/x"));
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.error, "отказано");
    EXPECT_EQ(json::parse(result.json).at("success"), false);
    EXPECT_EQ(progress, (ProgressLog{{0, "starting"}, {100, "failed"}}));
}

TEST_F(EngineTest, ReportsWhatAnOperationThrows) {
    engine->initialise();
    LogCapture log;
    ExecuteResult result = run(kThrowsOp);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.error, "Operation threw: boom");
    EXPECT_EQ(result.json, "");
    EXPECT_EQ(progress, (ProgressLog{{0, "starting"}, {100, "failed"}}));

    // Text that is not UTF-8 does not fail the run: the answer carries
    // replacement characters in its place.
    result = run(kBadTextOp);
    EXPECT_TRUE(result.success);
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.json, "{\"columns\":[],\"metadata\":{\"text\":\"\xEF\xBF\xBD(\"},\"rows\":[]}");
    EXPECT_EQ(progress, (ProgressLog{{0, "starting"}, {100, "done"}}));

    EXPECT_EQ(log.count("ERROR", "VelkEngine: Operation threw: "), 1);
}

TEST_F(EngineTest, TestRunsProjectTheFixtureWithoutSessionOrSettings) {
    const int callsBefore = settings->calls();
    const ExecuteResult result = engine->executeTest("due_amounts", R"({"eik":"123"})");
    ASSERT_TRUE(result.success) << result.error;

    const auto op = core::operations::OperationRegistry::instance().create("due_amounts");
    const auto& inquiry = dynamic_cast<const core::operations::IInquiry&>(*op);
    EXPECT_EQ(result.json, core::dumpCompact(core::operations::projectInquiryResult(
                               inquiry.resultSchema(), inquiry.testFixture({}))));
    EXPECT_EQ(settings->calls(), callsBefore);

    const ExecuteResult filing = engine->executeTest("dec1_6", "{}");
    ASSERT_TRUE(filing.success) << filing.error;
    EXPECT_EQ(json::parse(filing.json).at("success"), true);

    EXPECT_EQ(engine->executeTest("nope", "{}").error, "Unknown operation: nope");
    EXPECT_TRUE(engine->executeTest(kEchoOp, "{").error.starts_with("Invalid params JSON: "));

    LogCapture log;
    const ExecuteResult broken = engine->executeTest(kBrokenDemoOp, "{}");
    EXPECT_FALSE(broken.success);
    EXPECT_EQ(broken.error, "testFixture threw: no demo");
    EXPECT_EQ(log.count("ERROR", "VelkEngine: testFixture threw: no demo"), 1);
}

TEST_F(EngineTest, ListsAndFindsOperations) {
    const auto list = engine->listOperations();
    ASSERT_FALSE(list.empty());
    for (std::size_t i = 1; i < list.size(); ++i) {
        EXPECT_LT(list[i - 1].typeId, list[i].typeId);
    }
    const auto filing = engine->findOperation(kFilingOp);
    ASSERT_TRUE(filing);
    EXPECT_TRUE(filing->isSubmission);
    EXPECT_EQ(filing->displayName, std::string("Тест ") + kFilingOp);
    const auto echo = engine->findOperation(kEchoOp);
    ASSERT_TRUE(echo);
    EXPECT_FALSE(echo->isSubmission);
    EXPECT_FALSE(echo->requiresSubmissionToken);
    EXPECT_TRUE(engine->findOperation(kTokenEchoOp)->requiresSubmissionToken);
    EXPECT_FALSE(engine->findOperation("ZZ_SESSION_ECHO"));
}

TEST_F(EngineTest, HandsPinAndSignerToTheSession) {
    engine->setPin("CERT-a", "lost");  // no session yet
    NoSigner signer;
    engine->setSigner(&signer);
    engine->initialise();
    json meta = metadata(run(kEchoOp));
    EXPECT_EQ(meta.at("pin"), "");
    EXPECT_EQ(meta.at("signer"), "set");

    engine->setPin("CERT-a", "1234");
    engine->setSigner(nullptr);
    meta = metadata(run(kEchoOp));
    EXPECT_EQ(meta.at("pin"), "1234");
    EXPECT_EQ(meta.at("signer"), "none");
}

// A PIN belongs to one certificate: it reaches the session only while that
// certificate's sender is the one running, and a switch of sender takes the
// new certificate's remembered PIN or none.
TEST_F(EngineTest, APinIsPresentedOnlyForTheCertificateItWasGivenFor) {
    auto pinOf = [this](const std::string& senderId) {
        const ExecuteResult result = run(kEchoOp, "{}", senderId);
        EXPECT_TRUE(result.success) << result.error;
        return metadata(result).at("pin").get<std::string>();
    };
    engine->initialise();
    engine->setPin("CERT-a", "1111");
    EXPECT_EQ(pinOf("a"), "1111");
    EXPECT_EQ(pinOf("b"), "");  // never a's PIN for b's certificate
    EXPECT_EQ(pinOf("a"), "1111");

    // Typed for a certificate not in use: kept for it, shown to no other.
    engine->setPin("CERT-b", "2222");
    EXPECT_EQ(pinOf("a"), "1111");
    EXPECT_EQ(pinOf("b"), "2222");

    auto c = testSender("c");
    settings->upsertSender(c);
    ASSERT_TRUE(signing::PinStore::store("CERT-c", "3333"));
    EXPECT_EQ(pinOf("c"), "3333");
    EXPECT_EQ(pinOf("a"), "1111");
}

TEST_F(EngineTest, FollowsSettingsChangesMadeOnOtherThreads) {
    engine->initialise();
    std::thread([this] {
        auto changed = testSender("a");
        changed.apiKey = "NEW";
        settings->upsertSender(changed);
    }).join();
    EXPECT_EQ(metadata(run(kEchoOp)).at("identity"), "EIK-a|5|CERT-a|NEW");

    std::thread([this] { settings->setActiveSender(""); }).join();
    EXPECT_EQ(metadata(run(kEchoOp)).at("identity"), "|0||");
}

}  // namespace
}  // namespace velk::test
