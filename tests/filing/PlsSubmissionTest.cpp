#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

#include "fakes/agency/FormBody.h"
#include "features/dec731/Dec731Declaration.h"
#include "features/odit/OditFileDeclaration.h"
#include "filing/FilingTest.h"
#include "filing/ScriptedSigner.h"
#include "platform/RegularFile.h"
#include "support/LogCapture.h"
#include "support/UnusualFiles.h"

namespace velk::core::infra::portal {
namespace {

using namespace std::chrono_literals;
using operations::ParamMap;
using operations::SubmissionResult;
using test::Reply;
using test::ScriptedSigner;
using test::UploadOutcome;
using testing::Each;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;

const std::string kAuditUpload = "/pls/pub/!DEC2009.IPUBXMLDEC.upload_file";
const std::string kIncomeUpload = "/pls/pub/!DEC2009.IPUBXSD_VAL_DEC.upload_file";
const std::string kAjaxListing = "/pls/pub/!dec2009.ipubxmldec.ajaxListDocuments";

int currentYear() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_year + 1900;
}

// An empty charset sends the type without one.
Reply htmlReply(int status, std::string body, std::string charset = "utf-8") {
    Reply reply = Reply::text(status, std::move(body));
    reply.contentType = charset.empty() ? "text/html" : "text/html; charset=" + charset;
    return reply;
}

class PlsSubmissionTest : public FilingTest {
protected:
    SubmissionResult fileAudit(const std::string& path, const ParamMap& params) {
        return odit_.submit(&session_, path, params);
    }
    ParamMap auditParams() const {
        return {{"eik", kCompanyEik}, {"year", "2025.000000"}, {"month", "3.000000"}};
    }

    features::odit::OditFileDeclaration odit_;
    features::dec731::Dec731Declaration dec731_;
};

TEST_F(PlsSubmissionTest, AuditFileIsFiledAsTheAgencyReadsItAndMatchedInTheListing) {
    const std::string path = writeFile("audit.xml", "\xEF\xBB\xBF<a>\n<b>\r\n</a>\r");
    test::LogCapture log;
    const SubmissionResult result = fileAudit(path, auditParams());
    log.stop();

    ASSERT_TRUE(result.success) << result.errorMessage;
    EXPECT_EQ(result.documentId, "5001");
    EXPECT_EQ(result.incomeNumber, "2400005001");
    EXPECT_EQ(result.submissionDate, "15.04.2025");
    EXPECT_EQ(result.errorMessage, "");
    EXPECT_EQ(result.rawBodyUrl, "https://portal.nra.bg" + kAuditUpload);
    EXPECT_EQ(result.rawBodyContentType, "text/html; charset=utf-8");
    EXPECT_THAT(result.rawBody, HasSubstr("приет успешно"));

    // The agency gunzipped CR LF text without the mark, and its signature
    // check passed over exactly that.
    const auto documents = agency_.pls().documents();
    ASSERT_EQ(documents.size(), 1u);
    EXPECT_EQ(documents[0].content, "<a>\r\n<b>\r\n</a>\r\n");
    EXPECT_EQ(documents[0].fileName, "audit.xml");
    EXPECT_EQ(documents[0].year, 2025);
    EXPECT_EQ(documents[0].month, 3);
    const auto upload = portal_.requestsTo(kAuditUpload);
    ASSERT_EQ(upload.size(), 1u);
    EXPECT_EQ(upload[0].header("Upgrade-Insecure-Requests"), "1");
    EXPECT_THAT(upload[0].body, HasSubstr("pmonth=3"));
    EXPECT_EQ(portal_.requestsTo(kAjaxListing).size(), 1u);

    // Four portal waits, the one before the listing among them.
    EXPECT_EQ(sleeps_.size(), 4u);
    EXPECT_THAT(sleeps_, Each(1000ms));

    EXPECT_EQ(log.count("INFO", "PlsSubmissionExecutor: POST https://portal.nra.bg" + kAuditUpload +
                                    " (file=audit.xml, year=2025, month=3, pdata="),
              1);
    // The cookies by name only: their values are the session.
    std::string cookieLine;
    for (const std::string& line : log.stop()) {
        EXPECT_THAT(line, Not(HasSubstr(test::FakeAgency::kSessionValuePrefix)));
        cookieLine =
            line.find("PlsSubmissionExecutor: cookies in jar [") != std::string::npos ? line : cookieLine;
    }
    EXPECT_THAT(cookieLine, HasSubstr("SESSION"));
    EXPECT_THAT(cookieLine, HasSubstr("selectedServiceId"));
    EXPECT_EQ(log.count("INFO", "PlsSubmissionExecutor: post-submit fetchResults returned 1 row(s)"), 1);
    EXPECT_EQ(
        log.count("INFO", "PlsSubmissionExecutor: matched row income=2400005001 date=15.04.2025 docId=5001"),
        1);
}

TEST_F(PlsSubmissionTest, IncomeStatementIsMatchedInTheHtmlListingAndHasNoMonth) {
    const std::string path = writeFile("dec731.txt", "ред 1\nред 2\n");
    const SubmissionResult result =
        dec731_.submit(&session_, path, {{"eik", kCompanyEik}, {"year", "2025"}, {"month", "3"}});
    ASSERT_TRUE(result.success) << result.errorMessage;
    EXPECT_EQ(result.documentId, "5001");
    EXPECT_EQ(result.incomeNumber, "2400005001");
    EXPECT_EQ(result.rawBodyUrl, "https://portal.nra.bg" + kIncomeUpload);
    const auto upload = portal_.requestsTo(kIncomeUpload);
    ASSERT_EQ(upload.size(), 1u);
    EXPECT_THAT(upload[0].body, Not(HasSubstr("pmonth")));
    EXPECT_EQ(portal_.requestsTo("/pls/pub/DEC2009.IPUBXSD_VAL_DEC.linkDocuments").size(), 1u);
    EXPECT_EQ(agency_.pls().documents().at(0).content, "ред 1\r\nред 2\r\n");
}

TEST_F(PlsSubmissionTest, TheYearFallsBackOnTheCurrentOneAndTheMonthIsOptional) {
    struct Case {
        ParamMap params;
        int year;
    };
    const std::vector<Case> cases = {
        {{{"eik", kCompanyEik}}, currentYear()},
        {{{"eik", kCompanyEik}, {"year", "x"}}, currentYear()},
        {{{"eik", kCompanyEik}, {"year", "2024abc"}}, 2024},
    };
    const std::string path = writeFile("audit.xml", "<a/>\r\n");
    for (const Case& c : cases) {
        test::LogCapture log;
        const SubmissionResult result = fileAudit(path, c.params);
        log.stop();
        ASSERT_TRUE(result.success) << result.errorMessage;
        EXPECT_EQ(agency_.pls().documents().back().year, c.year);
        EXPECT_EQ(agency_.pls().documents().back().month, 0);
        EXPECT_EQ(log.count("INFO", ", year=" + std::to_string(c.year) + ", pdata="), 1);
    }
}

TEST_F(PlsSubmissionTest, RepliesTheAgencyGives) {
    struct Case {
        UploadOutcome outcome;
        std::string message;
    };
    const std::vector<Case> cases = {
        {UploadOutcome::Refused, "Грешка при обработката: файлът не е приет. Невалидна структура на ред 3."},
        {UploadOutcome::Unrecognised, "Неразпознат отговор от НАП (без pid и без съобщение)."},
        {UploadOutcome::ServerError, "HTTP 500 при подаване към НАП: 500 Временно недостъпна услуга."},
    };
    const std::string path = writeFile("audit.xml", "<a/>\r\n");
    for (const Case& c : cases) {
        agency_.pls().queueUploadOutcomes({c.outcome});
        const SubmissionResult result = fileAudit(path, auditParams());
        EXPECT_FALSE(result.success);
        EXPECT_EQ(result.errorMessage, c.message);
        EXPECT_EQ(result.documentId, "");
        EXPECT_EQ(result.rawBodyUrl, "https://portal.nra.bg" + kAuditUpload);
    }
    EXPECT_TRUE(portal_.requestsTo(kAjaxListing).empty());
}

// Pages the fake does not write itself, each read as the agency means it.
TEST_F(PlsSubmissionTest, ReplyPagesAreReadByTheirWordsPidAndCharset) {
    struct Case {
        Reply reply;
        bool success;
        std::string documentId;
        std::string message;
    };
    const std::vector<Case> cases = {
        {htmlReply(200, "<p>Заявка pid=77</p>"), true, "77", ""},
        {htmlReply(500, ""), false, "", "HTTP 500 при подаване към НАП"},
        {htmlReply(
             200,
             "<p>\xC4\xEE\xEA\xF3\xEC\xE5\xED\xF2\xFA\xF2 \xED\xE5 \xE5 \xEF\xF0\xE8\xE5\xF2. pid=78</p>",
             "windows-1251"),
         false, "78", "Документът не е приет. pid=78"},
        // No charset and not UTF-8: windows-1251, so the refusal reads as one.
        {htmlReply(
             200,
             "<p>\xC4\xEE\xEA\xF3\xEC\xE5\xED\xF2\xFA\xF2 \xED\xE5 \xE5 \xEF\xF0\xE8\xE5\xF2. pid=79</p>",
             ""),
         false, "79", "Документът не е приет. pid=79"},
        // Markup that mentions errors does not refuse an accepted page.
        {htmlReply(200,
                   "<style>.error{color:red}</style><img src=\"l.png\" onerror=\"hide(this)\">"
                   "<div class=\"error\"></div><h3>Файлът е приет успешно.</h3> pid=80"),
         true, "80", ""},
        // Nor does a style sheet when no verdict word shows: the pid decides.
        {htmlReply(200,
                   "<html><head><style>.error{color:red}</style></head><body><p>Вх. № 2500081</p>"
                   "<a href=\"odit.showResult?pid=81\">Резултат</a></body></html>"),
         true, "81", ""},
        {htmlReply(200, "<h3>Грешка</h3> <p>успешно</p>"), false, "", "Грешка успешно"},
        {htmlReply(200, "<p>НЕУСПЕШНО подаване</p>"), false, "", "НЕУСПЕШНО подаване"},
    };
    const std::string path = writeFile("audit.xml", "<a/>\r\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply.body);
        portal_.on("POST", kAuditUpload, c.reply);
        const SubmissionResult result = fileAudit(path, auditParams());
        EXPECT_EQ(result.success, c.success);
        EXPECT_EQ(result.documentId, c.documentId);
        EXPECT_EQ(result.errorMessage, c.message);
        EXPECT_TRUE(isValidUtf8(result.rawBody));
        // A pid the listing does not carry gives no other filing's receipt.
        EXPECT_EQ(result.incomeNumber, "");
    }
}

TEST_F(PlsSubmissionTest, WithoutAPidTheFirstListedRowCompletesTheReceipt) {
    test::PlsDocument earlier;
    earlier.module = "dec2009.ipubxmldec";
    earlier.eik = kCompanyEik;
    earlier.pid = "4001";
    earlier.incomeNumber = "2400004001";
    earlier.incomeDate = "01.03.2025";
    earlier.year = 2025;
    earlier.month = 3;
    agency_.pls().addDocument(earlier);
    portal_.on("POST", kAuditUpload, htmlReply(200, "<h3>Файлът е приет.</h3>"));

    const SubmissionResult result = fileAudit(writeFile("audit.xml", "<a/>"), auditParams());
    ASSERT_TRUE(result.success) << result.errorMessage;
    EXPECT_EQ(result.documentId, "4001");
    EXPECT_EQ(result.incomeNumber, "2400004001");
    EXPECT_EQ(result.submissionDate, "01.03.2025");
}

TEST_F(PlsSubmissionTest, TheNewFilingIsLookedForPastTheListingsFirstPage) {
    for (int i = 0; i < 150; ++i) {
        test::PlsDocument earlier;
        earlier.module = "dec2009.ipubxmldec";
        earlier.eik = kCompanyEik;
        earlier.pid = std::to_string(3000 + i);
        earlier.incomeNumber = "23" + earlier.pid;
        earlier.incomeDate = "01.03.2024";
        earlier.year = 2025;
        earlier.month = 3;
        agency_.pls().addDocument(earlier);
    }
    const SubmissionResult result = fileAudit(writeFile("audit.xml", "<a/>"), auditParams());
    ASSERT_TRUE(result.success) << result.errorMessage;
    EXPECT_EQ(result.documentId, "5001");
    EXPECT_EQ(result.incomeNumber, "2400005001");
    EXPECT_EQ(result.submissionDate, "15.04.2025");
    std::vector<std::string> windows;
    for (const test::RecordedRequest& listing : portal_.requestsTo(kAjaxListing)) {
        std::string start;
        std::string length;
        for (const test::FormBodyField& field : test::parseFormBody(listing.body)) {
            start = field.rawName == "start" ? field.value : start;
            length = field.rawName == "length" ? field.value : length;
        }
        windows.push_back(start + "+" + length);
    }
    EXPECT_THAT(windows, ElementsAre("0+100", "100+100"));
}

TEST_F(PlsSubmissionTest, AnAcceptedFilingStaysAcceptedWhenTheListingCannotBeRead) {
    portal_.on("POST", kAuditUpload, [this](const test::RecordedRequest&) {
        agency_.setTaxpayersJson("[]");  // the next taxpayer selection fails
        return htmlReply(200, "<h3>Приет успешно</h3> pid=91");
    });
    test::LogCapture log;
    const SubmissionResult result = fileAudit(writeFile("audit.xml", "<a/>"), auditParams());
    log.stop();
    EXPECT_TRUE(result.success);
    EXPECT_EQ(result.documentId, "91");
    EXPECT_EQ(result.incomeNumber, "");
    EXPECT_EQ(
        log.count("WARN", "PlsSubmissionExecutor: results-context prepareFor failed: Неуспешен избор на ЗЛ"),
        1);
    EXPECT_TRUE(portal_.requestsTo(kAjaxListing).empty());
}

TEST_F(PlsSubmissionTest, NothingIsSentForABadFileOrParameters) {
    std::filesystem::create_directory(files_.sub("folder"));
    const std::string empty = writeFile("empty.xml", "");
    const std::string missing = files_.sub("missing.xml");
    const std::string huge =
        test::writeSparseFile(files_.path() / "huge.xml", "<x/>", platform::kMaxWholeFileBytes + 1);
    struct Case {
        std::string path;
        ParamMap params;
        std::string message;
    };
    const std::vector<Case> cases = {
        {writeFile("a.xml", "x"), {{"year", "2025"}}, "Липсва задължителен параметър eik"},
        {writeFile("b.xml", "x"), {{"eik", "999999999"}}, ""},  // the session's own words
        {missing, auditParams(), "Файлът не може да бъде прочетен: " + missing},
        {files_.sub("folder"), auditParams(), "Файлът не може да бъде прочетен: " + files_.sub("folder")},
        {empty, auditParams(), "Файлът е празен: " + empty},
        {huge, auditParams(), "Файлът е по-голям от 256 MiB: " + huge},
        {"", auditParams(), "Файлът не може да бъде прочетен: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const SubmissionResult result = fileAudit(c.path, c.params);
        EXPECT_FALSE(result.success);
        if (c.message.empty()) {
            EXPECT_THAT(result.errorMessage, StartsWith("Фирма с избрания ЕИК не е намерена"));
        } else {
            EXPECT_EQ(result.errorMessage, c.message);
        }
    }
    EXPECT_TRUE(portal_.requestsTo(kAuditUpload).empty());
}

TEST_F(PlsSubmissionTest, AFileOfOnlyTheMarkIsFiledEmpty) {
    const SubmissionResult result = fileAudit(writeFile("mark.xml", "\xEF\xBB\xBF"), auditParams());
    ASSERT_TRUE(result.success) << result.errorMessage;
    EXPECT_EQ(agency_.pls().documents().at(0).content, "");
}

TEST_F(PlsSubmissionTest, SigningFailuresAreReportedAndNothingIsSent) {
    struct Case {
        ScriptedSigner::Behaviour behaviour;
        std::string message;
    };
    const std::vector<Case> cases = {
        {ScriptedSigner::Behaviour::Cancel, "Подписването беше отказано от потребителя."},
        {ScriptedSigner::Behaviour::WrongPin, "Грешен PIN код."},
        {ScriptedSigner::Behaviour::Throw, "Грешка при подписване: token removed"},
        {ScriptedSigner::Behaviour::Empty, "Подписът е празен — неуспешно подписване."},
    };
    const std::string path = writeFile("audit.xml", "<a/>");
    for (const Case& c : cases) {
        ScriptedSigner signer(signer_, c.behaviour);
        session_.setSigner(&signer);
        test::LogCapture log;
        const SubmissionResult result = fileAudit(path, auditParams());
        log.stop();
        EXPECT_FALSE(result.success);
        EXPECT_EQ(result.errorMessage, c.message);
        EXPECT_EQ(log.count("ERROR", "PlsSubmissionExecutor: signing failed — token removed"),
                  c.behaviour == ScriptedSigner::Behaviour::Throw ? 1 : 0);
    }
    session_.setSigner(nullptr);
    test::LogCapture log;
    EXPECT_EQ(fileAudit(path, auditParams()).errorMessage, "Не е инициализиран signer за сесията.");
    EXPECT_EQ(log.count("ERROR", "PlsSubmissionExecutor: NapSession has no signer"), 1);
    EXPECT_TRUE(portal_.requestsTo(kAuditUpload).empty());
}

}  // namespace
}  // namespace velk::core::infra::portal
