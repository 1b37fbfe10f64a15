#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "common/AgencyEndpoints.h"
#include "common/JsonUtils.h"
#include "features/etz123/Etz123Declaration.h"
#include "features/etz62/Etz62Declaration.h"
#include "features/high_fisc_risk/HighFiscRiskDeclaration.h"
#include "filing/FilingTest.h"
#include "filing/ScriptedSigner.h"
#include "infrastructure/portal/RestSubmissionExecutor.h"
#include "platform/RegularFile.h"
#include "support/ChildProcess.h"
#include "support/UnusualFiles.h"

namespace velk::core::infra::portal {
namespace {

using operations::ISubmission;
using operations::ParamMap;
using operations::SubmissionResult;
using test::Reply;
using test::RestSubmitOutcome;
using test::ScriptedSigner;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::StartsWith;

const std::string kSubmitPath = "/declaration/api-declarations/";

class RestFilingTest : public FilingTest {
protected:
    // The request the API accepted last, as JSON.
    json lastRequest() { return json::parse(agency_.restApi().documents().back().requestJson); }

    void withApiKey(const std::string& key) {
        SessionIdentity id = identity(certificateId_);
        id.apiKey = key;
        session_.configure(id);
    }

    RestSubmissionExecutor executor(RestSubmissionConfig config) {
        return RestSubmissionExecutor(session_, signer_, std::string(AgencyEndpoints::kRestSubmitUrl),
                                      std::string(AgencyEndpoints::kRestResultUrl), "api-key-1", config);
    }

    features::etz62::Etz62Declaration etz62_;
    features::etz123::Etz123Declaration etz123_;
    features::high_fisc_risk::HighFiscRiskDeclaration highFiscRisk_;
};

TEST_F(RestFilingTest, Etz62IsFiledWithTheSignatureTheApiChecks) {
    const std::string path = writeFile("etz62.xml", "<notice>ред\n</notice>");
    const SubmissionResult result = etz62_.submit(&session_, path, {{"eik", kCompanyEik}});
    ASSERT_TRUE(result.success) << result.errorMessage;
    EXPECT_EQ(result.documentId, "9001");
    EXPECT_EQ(result.incomeNumber, "ЕТ-9001");
    EXPECT_EQ(result.submissionDate, "2025-04-15T10:30:00");
    EXPECT_EQ(result.errorMessage, "");

    const auto documents = agency_.restApi().documents();
    ASSERT_EQ(documents.size(), 1u);
    EXPECT_EQ(documents[0].content, "<notice>ред\n</notice>");  // sent as it is
    EXPECT_EQ(documents[0].fileName, "etz62.xml");
    EXPECT_EQ(documents[0].serviceDocumentType, "DEC_ETZ62");
    EXPECT_EQ(documents[0].fileDocumentType, "DEC_ETZ62");
    EXPECT_EQ(documents[0].userPin, kCompanyEik);
    EXPECT_EQ(documents[0].userPinType, "BUS_BULSTAT");
    const json request = lastRequest();
    EXPECT_EQ(request["insuranceFund"], 0);
    EXPECT_EQ(request["files"][0]["fileType"], "xml");
    EXPECT_EQ(request["files"][0]["numRecords"], 0);
    EXPECT_FALSE(request.contains("year"));
    EXPECT_FALSE(request.contains("taxPeriodFrom"));
    const auto sent = agency_.api().requestsTo(kSubmitPath);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].header("Authorization"), "Bearer api-key-1");
}

TEST_F(RestFilingTest, EachDeclarationFilesUnderItsCodes) {
    struct Case {
        const ISubmission* declaration;
        ParamMap params;
        std::string family;
        std::string type;
    };
    const std::vector<Case> cases = {
        {&etz123_, {{"subtype", "EU_BG"}}, "DEC_ETZ123", "DEC_ETZ123"},
        {&highFiscRisk_, {{"subtype", "CONFIRM"}}, "DEC_HIGH_FISC_RISK", "DEC_FISC_RISK_CONFIRM"},
        {&highFiscRisk_, {{"subtype", "IMPORT"}}, "DEC_HIGH_FISC_RISK", "DEC_FISC_RISK_IMPORT"},
    };
    const std::string path = writeFile("notice.xml", "<x/>");
    for (const Case& c : cases) {
        const SubmissionResult result = c.declaration->submit(&session_, path, c.params);
        ASSERT_TRUE(result.success) << result.errorMessage;
        EXPECT_EQ(agency_.restApi().documents().back().serviceDocumentType, c.family);
        EXPECT_EQ(agency_.restApi().documents().back().fileDocumentType, c.type);
    }
}

TEST_F(RestFilingTest, RefusalsComeInTheirOrderWithEachDeclarationsWords) {
    const std::string path = writeFile("notice.xml", "<x/>");
    struct Case {
        const ISubmission* declaration;
        bool signer;
        std::string apiKey;
        ParamMap params;
        std::string message;
    };
    const std::vector<Case> cases = {
        {&etz62_, false, "", {}, "No signer available on session"},
        {&etz123_, false, "", {}, "No signer"},
        {&highFiscRisk_, false, "", {}, "No signer"},
        {&etz62_, true, "", {}, "API key is not configured in settings"},
        {&etz123_, true, "", {}, "API key not configured"},
        {&highFiscRisk_, true, "", {{"subtype", "CONFIRM"}}, "API key not configured"},
        {&highFiscRisk_, true, "k", {{"subtype", "confirm"}}, "Unknown / missing 'subtype' parameter"},
        {&highFiscRisk_, true, "k", {}, "Unknown / missing 'subtype' parameter"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        session_.setSigner(c.signer ? &signer_ : nullptr);
        withApiKey(c.apiKey);
        const SubmissionResult result = c.declaration->submit(&session_, path, c.params);
        EXPECT_FALSE(result.success);
        EXPECT_EQ(result.errorMessage, c.message);
        EXPECT_EQ(result.documentId, "");
    }
    EXPECT_TRUE(agency_.api().requests().empty());
}

TEST_F(RestFilingTest, TheTaxpayerIsTheEikTheTaxpayerPinOrTheSender) {
    // A listed type wins over the digits, once the session has the list.
    agency_.setTaxpayersJson(
        R"([{"name":"Л","pin":"1234567890","pinType":"IND_LNCH","tin":7,"email":"","authorization":"","active":true}])");
    ASSERT_TRUE(session_.ensureLoggedIn()) << session_.lastError();
    struct Case {
        ParamMap params;
        std::string pin;
        std::string type;
    };
    const std::vector<Case> cases = {
        {{}, kCompanyEik, "BUS_BULSTAT"},
        {{{"eik", ""}, {"taxpayerPin", "8001010000"}}, "", "UNKNOWN"},
        {{{"taxpayerPin", "8001010000"}}, "8001010000", "IND_EGN"},
        {{{"eik", "1234567890"}}, "1234567890", "IND_LNCH"},
        {{{"eik", "999999999"}}, "999999999", "BUS_BULSTAT"},
        {{{"eik", "1234567890123"}}, "1234567890123", "IND_BULSTAT"},
        {{{"eik", "12345678901"}}, "12345678901", "UNKNOWN"},
        {{{"eik", "12345678A"}}, "12345678A", "UNKNOWN"},
    };
    const std::string path = writeFile("notice.xml", "<x/>");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pin);
        ASSERT_TRUE(etz62_.submit(&session_, path, c.params).success);
        EXPECT_EQ(agency_.restApi().documents().back().taxpayerPin, c.pin);
        EXPECT_EQ(agency_.restApi().documents().back().taxpayerPinType, c.type);
    }
}

TEST_F(RestFilingTest, FilesThatCannotBeSentAreReportedAndNothingGoesOut) {
    std::filesystem::create_directory(files_.sub("folder"));
    const std::string empty = writeFile("empty.xml", "");
    const std::string missing = files_.sub("missing.xml");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {missing, "File not found: " + missing},
        {"", "File not found: "},
        {files_.sub("folder"), "Cannot read file or file is empty: " + files_.sub("folder")},
        {empty, "Cannot read file or file is empty: " + empty},
    };
    for (const auto& [path, message] : cases) {
        EXPECT_EQ(etz62_.submit(&session_, path, {}).errorMessage, message);
    }
    EXPECT_TRUE(agency_.api().requests().empty());
}

TEST_F(RestFilingTest, WhatIsNoRegularFileOrTooLargeIsNeverSigned) {
    const std::string fifo = test::makeFifo(files_.path() / "pipe.xml");
    const std::string huge =
        test::writeSparseFile(files_.path() / "huge.xml", "<x/>", platform::kMaxWholeFileBytes + 1);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {fifo, "Cannot read file or file is empty: " + fifo},
        {"/dev/zero", "Cannot read file or file is empty: /dev/zero"},
        {huge, "File is larger than 256 MiB: " + huge},
    };
    // A signer that would sign nothing: reached at all, it shows.
    ScriptedSigner counting(signer_, ScriptedSigner::Behaviour::Empty);
    session_.setSigner(&counting);
    // In a child: a reader that waits on the pipe must fail the test, not
    // hold it.
    const test::ChildOutput out = test::runInChildForText([&] {
        json answers = json::array();
        for (const auto& [path, message] : cases) {
            answers.push_back(etz62_.submit(&session_, path, {}).errorMessage);
        }
        answers.push_back(counting.pins.size());
        return answers.dump();
    });
    ASSERT_EQ(out.end, 0) << out.text;
    const json answers = json::parse(out.text);
    ASSERT_EQ(answers.size(), cases.size() + 1);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(answers[i], cases[i].second);
    }
    EXPECT_EQ(answers.back(), 0) << "the signer was asked";
    EXPECT_TRUE(agency_.api().requests().empty());
}

TEST_F(RestFilingTest, SigningGetsTheSessionsPinAndItsFailuresAreReported) {
    const std::string path = writeFile("notice.xml", "<x/>");
    session_.setPin(certificateId_, kPin);
    ScriptedSigner recording(signer_);
    session_.setSigner(&recording);
    ASSERT_TRUE(etz62_.submit(&session_, path, {}).success);
    EXPECT_THAT(recording.pins, ElementsAre(kPin));

    const std::vector<std::pair<ScriptedSigner::Behaviour, std::string>> cases = {
        {ScriptedSigner::Behaviour::Throw, "Signing failed: token removed"},
        {ScriptedSigner::Behaviour::Empty, "Empty signature (user may have cancelled)"},
    };
    for (const auto& [behaviour, message] : cases) {
        ScriptedSigner failing(signer_, behaviour);
        session_.setSigner(&failing);
        EXPECT_EQ(etz62_.submit(&session_, path, {}).errorMessage, message);
    }
    ScriptedSigner cancelling(signer_, ScriptedSigner::Behaviour::Cancel);
    session_.setSigner(&cancelling);
    EXPECT_THAT(etz62_.submit(&session_, path, {}).errorMessage, StartsWith("Signing failed: "));
    EXPECT_EQ(agency_.api().requestsTo(kSubmitPath).size(), 1u);
}

TEST_F(RestFilingTest, TheTaxPeriodIsSentOnlyWhenConfigured) {
    struct Case {
        ParamMap params;
        std::string from;  // "" when not sent
        std::string to;
        std::string year;
        int fund;
    };
    const std::vector<Case> cases = {
        {{{"month", "3.000000"}, {"year", "2025.000000"}, {"fund", "true"}}, "03", "03", "2025", 1},
        {{{"month", "13"}, {"fund", "1"}}, "", "", "", 1},
        {{{"taxPeriodFrom", "01"}, {"taxPeriodTo", "06"}, {"month", "3"}, {"fund", "TRUE"}},
         "01",
         "06",
         "",
         0},
        {{{"taxPeriodFrom", "01"}, {"month", "11"}, {"year", "2025x"}, {"fund", "yes"}},
         "11",
         "11",
         "2025x",
         0},
    };
    // The agency refuses a forms 1 and 6 filing without a valid period, so the
    // odd periods go out under another family: the executor sends them alike.
    const std::string path = writeFile("EMPL2021.TXT", "ред\r\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from + "/" + c.year);
        ASSERT_TRUE(executor({2, 7, 1, true}).submitFile(path, c.params).success);
        const json request = lastRequest();
        EXPECT_EQ(request.value("taxPeriodFrom", ""), c.from);
        EXPECT_EQ(request.value("taxPeriodTo", ""), c.to);
        EXPECT_EQ(request.value("year", ""), c.year);
        EXPECT_EQ(request["insuranceFund"], c.fund);
        EXPECT_EQ(request["files"][0]["fileType"], "txt");
    }
    ASSERT_TRUE(executor({2, 7, 3, false}).submitFile(path, {{"month", "3"}, {"year", "2025"}}).success);
    EXPECT_FALSE(lastRequest().contains("year"));
    EXPECT_FALSE(lastRequest().contains("taxPeriodFrom"));
}

TEST_F(RestFilingTest, SeveralFilesGoInOneRequestOrNotAtAll) {
    const std::string first = writeFile("EMPL2021.TXT", "on disk");
    const std::string second = writeFile("NRA62007.TXT", "form 6");
    RestFileEntry form1{first, 1, 1, {'r', 'e', 'a', 'd'}};
    RestFileEntry form6{second, 6, 1, {}};
    const ParamMap period = {{"month", "3"}, {"year", "2025"}};
    ASSERT_TRUE(executor({1, 0, 1, true}).submit({form1, form6}, period).success);
    const json request = lastRequest();
    ASSERT_EQ(request["files"].size(), 2u);
    EXPECT_EQ(request["files"][0]["fileContentBase64"], base64Encode(std::string_view("read")));
    EXPECT_EQ(request["files"][0]["numRecords"], 1);
    EXPECT_EQ(request["files"][1]["fileDocumentType"], "DEC_6");
    EXPECT_EQ(request["files"][1]["fileSize"], 6);

    const std::string missing = files_.sub("NRA62007.missing");
    EXPECT_EQ(executor({1, 0, 1, true}).submit({form1, {missing, 6, 0, {}}}, {}).errorMessage,
              "File not found: " + missing);
    EXPECT_EQ(executor({1, 0, 1, true}).submit({}, {}).errorMessage, "No files to submit");
    session_.configure(identity(""));
    EXPECT_EQ(executor({1, 0, 1, true}).submit({form1}, {}).errorMessage, "No certificate selected");
    EXPECT_EQ(agency_.api().requestsTo(kSubmitPath).size(), 1u);
}

TEST_F(RestFilingTest, TheApisRefusalsBecomeTheMessage) {
    const std::string path = writeFile("notice.xml", "<x/>");
    agency_.restApi().queueSubmitOutcomes({RestSubmitOutcome::Refused, RestSubmitOutcome::ServerError});
    SubmissionResult result = etz62_.submit(&session_, path, {});
    EXPECT_FALSE(result.success);
    EXPECT_THAT(result.errorMessage, StartsWith("HTTP 400 — "));
    EXPECT_THAT(result.errorMessage, HasSubstr("Невалиден XML"));
    result = etz62_.submit(&session_, path, {});
    EXPECT_THAT(result.errorMessage, StartsWith("HTTP 500 — <html>"));

    // An error page in another charset still makes a UTF-8 message.
    agency_.api().on("POST", kSubmitPath, Reply::text(502, "\xC3\xF0\xE5\xF8\xEA\xE0"));
    result = etz62_.submit(&session_, path, {});
    EXPECT_THAT(result.errorMessage, StartsWith("HTTP 502 — "));
    EXPECT_TRUE(isValidUtf8(result.errorMessage));

    // A 2xx answer the JSON reader cannot take is reported like bad text,
    // whatever the reader's failure: the filing never ends in a throw.
    for (const std::string& body :
         {std::string(R"({"documentId":"9002","entryNumber":1e400})"),
          R"({"documentId":)" + std::string(100000, '[') + std::string(100000, ']') + "}"}) {
        agency_.api().on("POST", kSubmitPath, Reply::json(200, body));
        ASSERT_NO_THROW(result = etz62_.submit(&session_, path, {}));
        EXPECT_FALSE(result.success);
        EXPECT_THAT(result.errorMessage, StartsWith("json parse: [json.exception."));
    }
}

// The agency said yes but named no document the agent can read: the filing
// may stand, so the user is told to look in the portal before filing again.
// A refusal the agency words itself stands as it is.
TEST_F(RestFilingTest, ASuccessStatusWithoutAReadableDocumentIdIsNoAcceptanceButAWarning) {
    const std::string path = writeFile("notice.xml", "<x/>");
    const auto notice = [](int status) {
        return "НАП отговори с код за успех (HTTP " + std::to_string(status) +
               "), но без разчетим номер на документ: декларацията може да е приета. Проверете подадените "
               "документи в портала на НАП, преди да подадете отново.";
    };
    struct Case {
        int status;
        std::string body;
        std::string message;  // what the message starts with; "" for the notice alone
    };
    const std::vector<Case> cases = {
        {200, "<html>Приет</html>", "json parse: [json.exception.parse_error"},
        {202, R"({"documentId":"9003","entryNumber":1e400})", "json parse: [json.exception.out_of_range"},
        {200, R"({"documentId":false,"entryNumber":"ЕТ-9003"})", ""},
        {200, R"({"documentId":{}})", ""},
        {200, R"({"documentId":[]})", ""},
        {201, R"({"errorMessage":"Временно недостъпно"})", "Временно недостъпно"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        agency_.api().on("POST", kSubmitPath, Reply::json(c.status, c.body));
        const SubmissionResult result = etz62_.submit(&session_, path, {});
        EXPECT_FALSE(result.success);
        EXPECT_EQ(result.documentId, "");
        if (c.message.empty()) {
            EXPECT_EQ(result.errorMessage, notice(c.status));
        } else if (!c.message.starts_with("json parse: ")) {
            EXPECT_EQ(result.errorMessage, c.message);
        } else {
            EXPECT_THAT(result.errorMessage, StartsWith(c.message));
            EXPECT_THAT(result.errorMessage, testing::EndsWith(" — " + notice(c.status)));
        }
    }
    // A refusal with a failure status carries no such notice.
    agency_.api().on("POST", kSubmitPath, Reply::json(400, R"({"errorMessage":"Невалиден XML"})"));
    EXPECT_THAT(etz62_.submit(&session_, path, {}).errorMessage, testing::Not(HasSubstr("код за успех")));
}

}  // namespace
}  // namespace velk::core::infra::portal
