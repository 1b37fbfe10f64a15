// The forms 1 and 6 declaration against the fake REST API, which refuses a
// forms 1 and 6 request whose files, counts or period are not in order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/JsonUtils.h"
#include "features/dec16/Dec16Declaration.h"
#include "filing/FilingTest.h"
#include "platform/RegularFile.h"
#include "support/ChildProcess.h"
#include "support/LogCapture.h"
#include "support/UnusualFiles.h"

namespace velk::core::infra::portal {
namespace {

using features::dec16::Dec16Declaration;
using features::dec16::Dec16FileInfo;
using operations::ParamMap;
using operations::SubmissionResult;

const std::string kSubmitPath = "/declaration/api-declarations/";

// A form 1 file of the period: three records (the header among them), a blank
// line and the end-of-file mark, windows-1251.
std::string dec1File(int month, int year, const std::string& eik = "123456789") {
    return std::to_string(month) + "," + std::to_string(year) + "," + eik +
           ",8001010000,a,b,c,d\r\n\xC8\xE2\xE0\xED,1\r\n  \r\n\xCF\xE5\xF2\xFA\xF0,2\r\n\x1A";
}

// A form 6 file of the period: two records (the header among them), LF only.
std::string dec6File(int month, int year, const std::string& eik = "123456789") {
    return eik + ",a,b,c,d,e," + std::to_string(month) + "," + std::to_string(year) + ",31/03/2025,f,5,g\n" +
           "\xD2\xE5\xF1\xF2,1";
}

class Dec16DeclarationTest : public FilingTest {
protected:
    SubmissionResult submit(const ParamMap& params, const std::string& filePath = "") {
        return declaration_.submit(&session_, filePath, params);
    }
    json lastRequest() { return json::parse(agency_.restApi().documents().back().requestJson); }

    const Dec16Declaration declaration_;
};

TEST_F(Dec16DeclarationTest, FilesBothFormsWithTheirRecordCountsAndThePeriod) {
    const std::string d1 = writeFile("EMPL2021.TXT", dec1File(3, 2025));
    const std::string d6 = writeFile("NRA62007.TXT", dec6File(3, 2025));
    test::LogCapture log;
    const SubmissionResult result = submit({{"dec1FilePath", d1},
                                            {"dec6FilePath", d6},
                                            {"year", "2025.000000"},
                                            {"month", "3.000000"},
                                            {"fund", "true"}});
    EXPECT_EQ(log.count("INFO", "Dec16Declaration: submitting tin=123456789 dec1Records=3 dec6Records=2"), 1);
    ASSERT_TRUE(result.success) << result.errorMessage;
    EXPECT_EQ(result.documentId, "9001");
    EXPECT_EQ(result.incomeNumber, "ЕТ-9001");

    const json request = lastRequest();
    EXPECT_EQ(request["serviceDocumentType"], "DEC_1_6");
    EXPECT_EQ(request["taxpayerPin"], kCompanyEik);
    EXPECT_EQ(request["taxPeriodFrom"], "03");
    EXPECT_EQ(request["taxPeriodTo"], "03");
    EXPECT_EQ(request["year"], "2025");
    EXPECT_EQ(request["insuranceFund"], 1);
    ASSERT_EQ(request["files"].size(), 2u);
    EXPECT_EQ(request["files"][0]["fileName"], "EMPL2021.TXT");
    EXPECT_EQ(request["files"][0]["fileDocumentType"], "DEC_1");
    EXPECT_EQ(request["files"][0]["fileType"], "txt");
    EXPECT_EQ(request["files"][0]["numRecords"], 3);  // the header line is a record too
    EXPECT_EQ(request["files"][1]["fileName"], "NRA62007.TXT");
    EXPECT_EQ(request["files"][1]["fileDocumentType"], "DEC_6");
    EXPECT_EQ(request["files"][1]["numRecords"], 2);
    // The bytes go out as they are on disk.
    EXPECT_EQ(agency_.restApi().documents().back().content, dec1File(3, 2025));
}

TEST_F(Dec16DeclarationTest, OneFormAloneAndTheRequestsFileAsForm1) {
    const std::string d1 = writeFile("EMPL2021.TXT", dec1File(4, 2025));
    const std::string d6 = writeFile("NRA62007.TXT", dec6File(4, 2025));
    {
        test::LogCapture log;
        ASSERT_TRUE(submit({{"dec6FilePath", d6}, {"year", "2025"}, {"month", "4"}}).success);
        EXPECT_EQ(log.count("INFO", "Dec16Declaration: submitting tin=123456789 dec6Records=2"), 1);
        EXPECT_EQ(log.count("INFO", "dec1Records="), 0);
    }
    ASSERT_EQ(lastRequest()["files"].size(), 1u);
    EXPECT_EQ(lastRequest()["files"][0]["fileDocumentType"], "DEC_6");

    ASSERT_TRUE(submit({{"year", "2025"}, {"month", "4"}, {"eik", kCompanyEik}}, d1).success);
    ASSERT_EQ(lastRequest()["files"].size(), 1u);
    EXPECT_EQ(lastRequest()["files"][0]["fileDocumentType"], "DEC_1");
    // A path parameter wins over the request's file.
    ASSERT_TRUE(submit({{"dec6FilePath", d6}, {"year", "2025"}, {"month", "4"}}, d1).success);
    EXPECT_EQ(lastRequest()["files"][0]["fileDocumentType"], "DEC_6");
}

TEST_F(Dec16DeclarationTest, EachRefusalComesFirstInItsOrderAndNothingIsSent) {
    const std::string d1 = writeFile("EMPL2021.TXT", dec1File(3, 2025));
    const std::string d1April = writeFile("EMPL2021-04.TXT", dec1File(4, 2025));
    const std::string d6 = writeFile("NRA62007.TXT", dec6File(3, 2025));
    const std::string d6April = writeFile("NRA62007-04.TXT", dec6File(4, 2025));
    const std::string d6Other = writeFile("NRA62007-other.TXT", dec6File(3, 2025, "987654321"));
    const std::string bad = writeFile("bad.TXT", "not,a,header\r\n");
    const std::string empty = writeFile("empty.TXT", "");
    const std::string missing = files_.sub("missing.TXT");
    std::filesystem::create_directory(files_.sub("folder"));
    const std::string folder = files_.sub("folder");
    const ParamMap period = {{"year", "2025"}, {"month", "3"}};
    auto with = [&](ParamMap extra) {
        extra.insert(period.begin(), period.end());
        return extra;
    };
    struct Case {
        bool signer;
        std::string apiKey;
        ParamMap params;
        std::string filePath;
        std::string message;
    };
    const std::vector<Case> cases = {
        {false,
         "",
         {{"dec1FilePath", missing}},
         "",
         "No signer available on session (setSigner was not called)"},
        {true, "", {{"dec1FilePath", missing}}, "", "API key is not configured in settings"},
        {true, "k", period, "", "Подайте поне един от файловете: dec1FilePath или dec6FilePath"},
        {true, "k", with({{"dec1FilePath", missing}, {"dec6FilePath", bad}}), "",
         "Файлът не съществува: " + missing},
        {true, "k", with({{"dec1FilePath", bad}}), "",
         "Не може да се прочете Д1 (EMPL2021) хедър от: " + bad},
        {true, "k", with({{"dec1FilePath", empty}}), "",
         "Не може да се прочете Д1 (EMPL2021) хедър от: " + empty},
        {true, "k", with({{"dec1FilePath", folder}}), "",
         "Не може да се прочете Д1 (EMPL2021) хедър от: " + folder},
        {true, "k", with({}), folder, "Не може да се прочете Д1 (EMPL2021) хедър от: " + folder},
        {true, "k", with({{"dec6FilePath", d1}}), "", "Не може да се прочете Д6 хедър от: " + d1},
        // Both files are loaded before any comparison.
        {true, "k", with({{"dec1FilePath", d1April}, {"dec6FilePath", bad}}), "",
         "Не може да се прочете Д6 хедър от: " + bad},
        {true, "k", with({{"dec1FilePath", d1}, {"dec6FilePath", d6Other}, {"eik", "111111111"}}), "",
         "ЕИК/Булстат не съвпада между Д1 и Д6: 123456789 vs 987654321"},
        {true, "k", with({{"dec1FilePath", d1}, {"dec6FilePath", d6}, {"eik", " 123456789"}}), "",
         "ЕИК параметърът ( 123456789) не съвпада с ЕИК във файла (123456789)"},
        {true, "k", with({{"dec6FilePath", d6Other}, {"eik", "123456789"}}), "",
         "ЕИК параметърът (123456789) не съвпада с ЕИК във файла (987654321)"},
        {true, "k", with({{"dec1FilePath", d1April}, {"dec6FilePath", d6April}}), "",
         "Д1: Периодът във файла (4/2025) не съвпада с параметрите (3/2025)"},
        {true, "k", with({{"dec1FilePath", d1}, {"dec6FilePath", d6April}}), "",
         "Д6: Периодът във файла (4/2025) не съвпада с параметрите (3/2025)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        session_.setSigner(c.signer ? &signer_ : nullptr);
        SessionIdentity id = identity(certificateId_);
        id.apiKey = c.apiKey;
        session_.configure(id);
        const SubmissionResult result = submit(c.params, c.filePath);
        EXPECT_FALSE(result.success);
        EXPECT_EQ(result.errorMessage, c.message);
        EXPECT_EQ(result.documentId, "");
    }
    EXPECT_TRUE(agency_.api().requestsTo(kSubmitPath).empty());
}

TEST_F(Dec16DeclarationTest, APipeOrAFileTooLargeIsRefusedBeforeAnythingIsSent) {
    const std::string fifo = test::makeFifo(files_.path() / "EMPL2021-pipe.TXT");
    // Of another period, so the size must be what refuses it.
    const std::string huge = test::writeSparseFile(files_.path() / "EMPL2021-huge.TXT", dec1File(4, 2025),
                                                   platform::kMaxWholeFileBytes + 1);
    const std::string d6 = writeFile("NRA62007.TXT", dec6File(3, 2025));
    const std::vector<std::pair<ParamMap, std::string>> cases = {
        {{{"dec1FilePath", fifo}}, "Не може да се прочете Д1 (EMPL2021) хедър от: " + fifo},
        {{{"dec6FilePath", fifo}}, "Не може да се прочете Д6 хедър от: " + fifo},
        {{{"dec1FilePath", huge}, {"dec6FilePath", d6}}, "Файлът е по-голям от 256 MiB: " + huge},
    };
    // In a child: a reader that waits on the pipe must fail the test, not
    // hold it.
    const test::ChildOutput out = test::runInChildForText([&] {
        json messages = json::array();
        for (const auto& [params, message] : cases) {
            ParamMap withPeriod = params;
            withPeriod.insert({{"year", "2025"}, {"month", "3"}});
            messages.push_back(submit(withPeriod).errorMessage);
        }
        return messages.dump();
    });
    ASSERT_EQ(out.end, 0) << out.text;
    const json messages = json::parse(out.text);
    ASSERT_EQ(messages.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(messages[i], cases[i].second);
    }
    EXPECT_TRUE(agency_.api().requestsTo(kSubmitPath).empty());
}

TEST(Dec16Period, IsHeldAgainstTheParametersOnlyWhenTheyAreNumbers) {
    Dec16FileInfo april;
    april.year = 2025;
    april.month = 4;
    const std::vector<std::pair<ParamMap, std::string>> cases = {
        {{{"year", "2025"}, {"month", "4"}}, ""},
        {{{"year", "2025.000000"}, {"month", "4.000000"}}, ""},
        {{{"year", " +2025"}, {"month", "04"}}, ""},
        {{{"year", "2025"}, {"month", "3"}}, "Периодът във файла (4/2025) не съвпада с параметрите (3/2025)"},
        {{{"year", "2024.000000"}, {"month", "4.000000"}},
         "Периодът във файла (4/2025) не съвпада с параметрите (4.000000/2024.000000)"},
        {{{"year", "2025"}, {"month", "x"}}, ""},
        {{{"year", "2025"}, {"month", "99999999999"}}, ""},
        {{{"year", "2025"}}, ""},
        {{{"year", ""}, {"month", "3"}}, ""},
        {{}, ""},
    };
    for (const auto& [params, message] : cases) {
        EXPECT_EQ(Dec16Declaration::checkDec16Period(params, april), message)
            << testing::PrintToString(params);
    }
}

}  // namespace
}  // namespace velk::core::infra::portal
