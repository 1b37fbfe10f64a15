#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/JsonUtils.h"
#include "engine/TestOperations.h"
#include "operations/IInquiry.h"
#include "operations/OperationRegistry.h"
#include "operations/ResultProjection.h"
#include "server_http/ScriptedSenderPicker.h"
#include "server_http/ServerHarness.h"
#include "support/LogCapture.h"
#include "support/TokenMinter.h"

namespace velk::test {
namespace {

using core::json;

const std::string kNoSender =
    "Няма конфигуриран подател. Отвори ВЕЛК агента, добави подател и избери сертификат.";
const std::string kAddSender = "Моля, добавете подател в настройките и опитайте отново.";
const std::string kChoiceCancelled = "Изборът на подател беше отказан.";
const std::string kRunDeclined = "Операцията е отказана от потребителя.";

std::string runPath(const std::string& typeId) {
    return "/api/v1/operations/" + typeId;
}

std::string identityOf(const std::string& id) {
    return "EIK-" + id + "|5|CERT-" + id + "|KEY-" + id;
}

std::string echoedIdentity(const Answer& answer) {
    return answer.json().at("metadata").at("identity").get<std::string>();
}

json refusal(const std::string& message) {
    return {{"success", false}, {"errorMessage", message}};
}

std::string projectedFixture(const std::string& typeId) {
    const auto op = core::operations::OperationRegistry::instance().create(typeId);
    const auto& inquiry = dynamic_cast<const core::operations::IInquiry&>(*op);
    return core::dumpCompact(
        core::operations::projectInquiryResult(inquiry.resultSchema(), inquiry.testFixture({})));
}

TEST(OperationCatalogTest, ListsEveryOperationWithItsForm) {
    ServerHarness harness;
    const Answer answer = harness.get("/api/operations");
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(answer.header("Content-Type"), "application/json; charset=utf-8");
    const json list = answer.json();
    ASSERT_EQ(list.size(), harness.engine().listOperations().size());

    const json* filing = nullptr;
    const json* echo = nullptr;
    for (const auto& entry : list) {
        if (entry.at("typeId") == kFilingOp) {
            filing = &entry;
        } else if (entry.at("typeId") == kEchoOp) {
            echo = &entry;
        }
    }
    ASSERT_TRUE(filing && echo);
    const json params = json::parse(R"([
        {"name":"year","label":"Година","type":"year","required":true,"description":"Годината.","default":"2025"},
        {"name":"kind","label":"Вид","type":"enum","required":false,"description":"","allowedValues":["a","b"]}])");
    EXPECT_EQ(*filing, json({{"typeId", kFilingOp},
                             {"displayName", std::string("Тест ") + kFilingOp},
                             {"category", "Декларации"},
                             {"featureGroupId", "tests"},
                             {"featureGroupName", "Тестове"},
                             {"isSubmission", true},
                             {"params", params},
                             {"inputKind", "folder"},
                             {"requiresFilePath", true}}))
        << filing->dump();
    EXPECT_EQ(echo->at("params"), params);
    EXPECT_FALSE(echo->contains("inputKind"));
    EXPECT_FALSE(echo->contains("requiresFilePath"));
    // Keys in byte order, as the library's objects keep them.
    EXPECT_TRUE(answer.body.starts_with(R"([{"category":)")) << answer.body.substr(0, 40);
}

TEST(OperationRunTest, RunsAnOperationThroughTheEngineAndTheSession) {
    ServerHarness harness;
    harness.addSenders({"a", "b"}, "a");
    const Answer answer = harness.post(runPath(kEchoOp), R"({"year":2025})", {{"X-Velk-Sender-Id", "b"}});
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(echoedIdentity(answer), identityOf("b"));
    EXPECT_EQ(answer.json().at("metadata").at("param.year"), "2025.000000");
    EXPECT_EQ(harness.settings().activeSenderId(), "b");
}

TEST(OperationRunTest, ATestRunByAnUnverifiedTokenReturnsTheProjectedFixture) {
    ServerHarness harness;
    harness.addSenders({"a"}, "a");
    TokenMinter minter;
    for (const json& test : {json(true), json("true")}) {
        LogCapture log;
        const Answer answer = harness.post(runPath("due_amounts"), "{}",
                                           {{"Authorization", "Bearer " + minter.mint({{"test", test}})}});
        ASSERT_EQ(answer.status, 200) << answer.body;
        EXPECT_EQ(answer.body, projectedFixture("due_amounts"));
        EXPECT_EQ(log.count("INFO", "/api/v1/operations: test mode (unverified path) for typeId=due_amounts"),
                  1);
    }
    // Anything else, or a garbled token, is a normal run.
    for (const std::string& authorization :
         {"Bearer " + minter.mint({{"test", false}}), "Bearer " + minter.mint({{"test", 1}}),
          std::string("Bearer x.y.z"), std::string("bearer ") + minter.mint({{"test", true}})}) {
        const Answer answer = harness.post(runPath(kEchoOp), "{}", {{"Authorization", authorization}});
        ASSERT_EQ(answer.status, 200) << answer.body;
        EXPECT_EQ(echoedIdentity(answer), identityOf("a")) << authorization;
    }
}

// Sender resolution without a picker, and the mapping of the engine's answers.
TEST(OperationRunTest, AnswersByTable) {
    struct Case {
        std::string name;
        std::vector<std::string> senders;
        std::string activeId;
        std::string typeId;
        std::string body;
        httplib::Headers headers;
        int status;
        std::string expected;  // the error text, or the echoed identity for 200
        bool initialised = true;
    };
    const std::vector<Case> cases = {
        {"no sender at all", {}, "", kEchoOp, "{}", {}, 400, kNoSender},
        {"unknown sender",
         {"a"},
         "a",
         kEchoOp,
         "{}",
         {{"X-Velk-Sender-Id", "zz"}},
         400,
         "Unknown senderId: zz"},
        {"the one sender", {"a"}, "", kEchoOp, "{}", {}, 200, identityOf("a")},
        {"several, the active one", {"a", "b"}, "b", kEchoOp, "{}", {}, 200, identityOf("b")},
        {"several, none active", {"a", "b"}, "", kEchoOp, "{}", {}, 200, "|0||"},
        {"engine not initialised", {"a"}, "a", kEchoOp, "{}", {}, 503, "VelkEngine not initialised", false},
        {"unknown operation", {"a"}, "a", "nothing_here", "{}", {}, 502, "Unknown operation: nothing_here"},
        {"params not JSON", {"a"}, "a", kEchoOp, "{oops", {}, 502, "Invalid params JSON: "},
        {"no file path", {"a"}, "a", kFilingOp, "{}", {}, 502, "Submission requires a file path"},
        {"empty file path",
         {"a"},
         "a",
         kFilingOp,
         "{}",
         {{"X-Velk-File-Path", ""}},
         502,
         "Submission requires a file path"},
        {"refused filing",
         {"a"},
         "a",
         kFilingOp,
         R"({"fail":true})",
         {{"X-Velk-File-Path", "/d.xml"}},
         502,
         "отказано"},
        // Broken text in a result is answered with replacement characters.
        {"result with text that is not UTF-8", {"a"}, "a", kBadTextOp, "{}", {}, 200, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ServerHarness harness(ServerHarness::Options{nullptr, c.initialised});
        harness.addSenders(c.senders, c.activeId);
        const Answer answer = harness.post(runPath(c.typeId), c.body, c.headers);
        ASSERT_EQ(answer.status, c.status) << answer.body;
        if (c.typeId == kBadTextOp) {
            EXPECT_NE(answer.body.find("\xEF\xBF\xBD"), std::string::npos) << answer.body;
        } else if (c.status == 200) {
            EXPECT_EQ(echoedIdentity(answer), c.expected);
        } else {
            EXPECT_TRUE(answer.error().starts_with(c.expected)) << answer.error();
        }
        EXPECT_EQ(harness.needsSettingsCalls.load(), c.expected == kNoSender ? 1 : 0);
    }
}

TEST(OperationRunTest, PassesTheFilePathAndAnswersTheReceipt) {
    ServerHarness harness;
    harness.addSenders({"a"}, "a");
    operationLog().reset();
    const Answer answer =
        harness.post(runPath(kFilingOp), "{}", {{"X-Velk-File-Path", "/home/user/декларация.xml"}});
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.json().at("incomeNumber"), "1234");
    std::lock_guard lock(operationLog().mutex);
    EXPECT_EQ(operationLog().lastFilePath, "/home/user/декларация.xml");
}

TEST(OperationRunTest, ASettingsCallbackThatThrowsIsLoggedAndTheAnswerStands) {
    ServerHarness harness;
    harness.needsSettingsAction = [] { throw std::runtime_error("no window"); };
    LogCapture log;
    const Answer answer = harness.post(runPath(kEchoOp), "{}");
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.error(), kNoSender);
    EXPECT_EQ(log.count("WARN", "HttpServer: onNeedsSettings threw: no window"), 1);
}

class PickerRunTest : public ::testing::Test {
protected:
    PickerRunTest() : harness(ServerHarness::Options{&picker, true}) {}

    ScriptedSenderPicker picker;
    ServerHarness harness;
};

TEST_F(PickerRunTest, SeveralSendersAreChosenThenTheRunIsConfirmed) {
    harness.addSenders({"a", "b"}, "a");
    picker.choose("b");
    picker.choose("b");
    const Answer answer = harness.post(
        runPath(kEchoOp), "{}", {{"Origin", "https://app.example"}, {"X-Velk-File-Path", "/tmp/d.xml"}});
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(echoedIdentity(answer), identityOf("b"));

    const auto calls = picker.calls();
    ASSERT_EQ(calls.size(), 2u);
    for (const auto& call : calls) {
        EXPECT_EQ(call.senderIds, (std::vector<std::string>{"a", "b"}));
        EXPECT_EQ(call.requester, "https://app.example");
        EXPECT_EQ(call.filePath, "/tmp/d.xml");
        EXPECT_EQ(call.operationName, std::string("Тест ") + kEchoOp);
    }
    EXPECT_EQ(calls[0].preselectedId, "a");
    EXPECT_EQ(calls[1].preselectedId, "b");
}

TEST_F(PickerRunTest, AnswersEveryChoiceOfTheUser) {
    struct Case {
        std::string name;
        std::vector<std::string> senders;
        std::function<void(ScriptedSenderPicker&)> script;
        json expected;  // the refusal, or null for a run of sender b
        std::string activeAfter;
        int needsSettings;
    };
    const std::vector<Case> cases = {
        {"choice cancelled", {"a", "b"}, [](auto& p) { p.cancel(); }, refusal(kChoiceCancelled), "a", 0},
        {"new sender asked in the choice",
         {"a", "b"},
         [](auto& p) { p.createNew(); },
         refusal(kAddSender),
         "a",
         1},
        {"confirmation declined",
         {"a", "b"},
         [](auto& p) { p.choose("b"), p.cancel(); },
         refusal(kRunDeclined),
         "a",
         0},
        {"new sender asked in the confirmation",
         {"a"},
         [](auto& p) { p.createNew(); },
         refusal(kAddSender),
         "a",
         1},
        {"choice remembered",
         {"a", "b"},
         [](auto& p) { p.choose("b", true), p.choose("b"); },
         nullptr,
         "b",
         0},
        {"confirmation changes and remembers",
         {"a", "b"},
         [](auto& p) { p.choose("a"), p.choose("b", true); },
         nullptr,
         "b",
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSenderPicker scripted;
        ServerHarness local(ServerHarness::Options{&scripted, true});
        local.addSenders(c.senders, "a");
        c.script(scripted);
        const Answer answer = local.post(runPath(kEchoOp), "{}");
        ASSERT_EQ(answer.status, 200) << answer.body;
        if (c.expected.is_null()) {
            EXPECT_EQ(echoedIdentity(answer), identityOf("b"));
        } else {
            EXPECT_EQ(answer.json(), c.expected);
        }
        EXPECT_EQ(local.settings().activeSenderId(), c.activeAfter);
        EXPECT_EQ(local.needsSettingsCalls.load(), c.needsSettings);
    }
}

TEST_F(PickerRunTest, ThePickerShowsTheRequesterAndTheFileTheRunSends) {
    harness.addSenders({"a"}, "a");
    struct Case {
        httplib::Headers headers;
        std::string requester;  // the Origin, else the Referer
        std::string filePath;
    };
    const std::vector<Case> cases = {
        {{{"Origin", "https://o.example"}, {"Referer", "https://r.example/page"}}, "https://o.example", ""},
        {{{"Referer", "https://r.example/page"}}, "https://r.example/page", ""},
        {{}, "", ""},
        {{{"Origin", "https://o.example"}, {"X-Velk-File-Path", "/home/u/DEKLAR.TXT"}},
         "https://o.example",
         "/home/u/DEKLAR.TXT"},
        {{{"X-Velk-File-Path", ""}}, "", ""},
    };
    for (const Case& c : cases) {
        picker.choose("a");
        ASSERT_EQ(harness.post(runPath(kEchoOp), "{}", c.headers).status, 200);
        EXPECT_EQ(picker.calls().back().requester, c.requester);
        EXPECT_EQ(picker.calls().back().filePath, c.filePath);
    }
}

TEST_F(PickerRunTest, TestRunsAreNotConfirmed) {
    harness.addSenders({"a"}, "a");
    TokenMinter minter;
    const Answer answer = harness.post(runPath("due_amounts"), "{}",
                                       {{"Authorization", "Bearer " + minter.mint({{"test", true}})}});
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, projectedFixture("due_amounts"));
    EXPECT_TRUE(picker.calls().empty());
}

}  // namespace
}  // namespace velk::test
