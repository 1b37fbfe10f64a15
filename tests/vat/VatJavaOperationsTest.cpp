// vat_validate and the VAT return against the fake agency, with the real JDK
// running the agent's VelkVatUploader and the stand-in client, which signs
// over the pipe and sends the return to the fake portal. The session's waits
// are recorded, not slept.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/TextUtils.h"
#include "fakes/agency/VatTextFixtures.h"
#include "features/vat/VatDeclaration.h"
#include "features/vat/VatJavaFinder.h"
#include "features/vat/VatResultInquiry.h"
#include "features/vat/VatValidationInquiry.h"
#include "infrastructure/java/ZezizUrBridge.h"
#include "infrastructure/signing/SignerWin.h"
#include "portal_inquiries/PortalInquiryTest.h"
#include "support/DetachedCms.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace velk::core::features::vat {
namespace {

namespace fs = std::filesystem;
using operations::ParamMap;
using operations::SubmissionResult;
using test::Reply;
using testing::ElementsAre;
using testing::HasSubstr;

const std::string kPagePath = "/pls/pub/ivat.pub.MonthdecQuery";
const std::string kManifestPath = "/ls/java/zezizurls-vat.jnlp";
constexpr const char* kEncryptionCert = "MIIBstandInEncryptionCert";
constexpr const char* kNotConfirmed =
    "Декларацията е изпратена, но не е получено потвърждение от НАП (DocumentId липсва). Моля проверете в "
    "портала на НАП дали декларацията е приета.";

// A filing of March 2025 that the portal listed before the test's own.
test::VatFiling earlierMarch2025() {
    test::VatFiling filing;
    filing.docId = "889999";
    filing.incomeNumber = "25-0999";
    filing.submittedAt = "10.04.2025 08:00";
    filing.period = "Март 2025";
    filing.files = {{1, std::string("x")}};
    return filing;
}

class VatJavaOperationsTest : public PortalInquiryTest {
protected:
    void SetUp() override {
        PortalInquiryTest::SetUp();
        session_.setSigner(&signer_);
        session_.setZezizUrBridge(&bridge_);
    }

    // A complete return of March 2025 for the company; only is the one file
    // written when set.
    std::string returnFolder(const std::string& only = {}) {
        const std::string dir = files_.sub("ДДС 2025-03");
        fs::create_directories(dir);
        const std::vector<std::pair<std::string, std::string>> contents = {
            {"DEKLAR.TXT", test::deklarLine("BG123456789", "Тест ЕООД", "202503") + "\r\n"},
            {"POKUPKI.TXT", test::journalLine("BG123456789", "P-1", "Доставчик АД", "100.00") + "\r\n"},
            {"PRODAGBI.TXT", test::journalLine("BG123456789", "S-1", "Клиент ООД", "300.00") + "\r\n"},
        };
        for (const auto& [name, bytes] : contents) {
            if (only.empty() || only == name) {
                std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
            }
        }
        return dir;
    }

    json validate(const std::string& directory) { return run(validation_, {{"directory", directory}}); }

    SubmissionResult file(const std::string& folder, ParamMap params = {}) {
        if (params.empty()) {
            params = {{"eik", kCompanyEik}, {"year", "2025.000000"}, {"month", "3.000000"}};
        }
        return declaration_.submit(&session_, folder, params);
    }

    std::vector<std::pair<std::string, std::string>> rows() const {
        std::vector<std::pair<std::string, std::string>> out;
        for (const auto& row : result_.rows) {
            out.emplace_back(row.at(0), row.at(1));
        }
        return out;
    }

    std::size_t loginRequests() const { return portal_.requestsTo("/api/base/taxpayers").size(); }

    test::ScopedEnv javaHome_{"JAVA_HOME",
                              fs::canonical(VELK_TEST_JAVA).parent_path().parent_path().string()};
    test::ScopedEnv encryptionCert_{"VELK_TEST_NRA_ENCRYPTION_CERT", kEncryptionCert};
    signing::SignerWin signer_;
    infra::java::ZezizUrBridge bridge_;
    test::TempDir files_;
    const VatValidationInquiry validation_;
    const VatDeclaration declaration_;
};

TEST_F(VatJavaOperationsTest, ValidationStopsAtABrokenFolderWithoutJavaOrLogin) {
    const std::string onlyDeklar = returnFolder("DEKLAR.TXT");
    const std::string file = onlyDeklar + "/DEKLAR.TXT";
    const std::string missing = files_.sub("няма");
    using Rows = std::vector<std::pair<std::string, std::string>>;
    struct Case {
        std::string directory;
        std::string status;
        Rows rows;
    };
    const std::vector<Case> cases = {
        {"", "error", {{"preflight", "Папката не съществува: "}}},
        {missing, "error", {{"preflight", "Папката не съществува: " + missing}}},
        {onlyDeklar,
         "invalid",
         {{"preflight", "Липсва файл: POKUPKI.TXT"}, {"preflight", "Липсва файл: PRODAGBI.TXT"}}},
        {file,
         "invalid",
         {{"preflight", "Липсва файл: DEKLAR.TXT"},
          {"preflight", "Липсва файл: POKUPKI.TXT"},
          {"preflight", "Липсва файл: PRODAGBI.TXT"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.directory);
        const json typed = validate(c.directory);
        EXPECT_EQ(typed["status"], c.status);
        EXPECT_EQ(rows(), c.rows);
        EXPECT_EQ(meta("errorCount"), c.status == "invalid" ? std::to_string(c.rows.size()) : "<absent>");
        EXPECT_EQ(meta("error"), "<absent>");
        EXPECT_EQ(typed["items"].size(), c.rows.size());
    }
    EXPECT_EQ(loginRequests(), 0u);
    EXPECT_TRUE(portal_.requestsTo(kManifestPath).empty());
}

TEST_F(VatJavaOperationsTest, ValidationWithoutJavaBridgeOrLogin) {
    const std::string folder = returnFolder();
    {
        const ScopedJavaFinder noJava([] { return std::nullopt; });
        const json typed = validate(folder);
        EXPECT_EQ(typed["status"], "java_missing");
        ASSERT_EQ(result_.rows.size(), 1u);
        EXPECT_EQ(result_.rows[0][0], "java");
        EXPECT_EQ(result_.rows[0][1],
                  "За валидация на ДДС файлове е нужна Java (Java 11 или по-нова). Инсталирайте пакета "
                  "default-jre (sudo apt install default-jre). След инсталацията рестартирайте ВЕЛК агента и "
                  "опитайте отново.");
        EXPECT_EQ(loginRequests(), 0u);
    }

    session_.setZezizUrBridge(nullptr);
    json typed = validate(folder);
    EXPECT_EQ(typed["status"], "unavailable");
    EXPECT_EQ(typed["message"], "ZezizUrBridge not configured");
    EXPECT_TRUE(result_.rows.empty());
    EXPECT_EQ(loginRequests(), 0u);

    session_.setZezizUrBridge(&bridge_);
    refuseLogin();
    typed = validate(folder);
    EXPECT_EQ(typed["status"], "error");
    ASSERT_EQ(result_.rows.size(), 1u);
    EXPECT_EQ(result_.rows[0][0], "auth");
    EXPECT_EQ(result_.rows[0][1], "Неуспешен вход в НАП: " + session_.lastError());
    EXPECT_FALSE(session_.lastError().empty());
}

TEST_F(VatJavaOperationsTest, ValidationInstallsTheClientAndReportsTheValidatorsVerdict) {
    const std::string folder = returnFolder();
    std::ofstream(folder + "/STANDIN-ERRORS.TXT")
        << "Ред 1: невалиден ЕИК\nРед 2: липсва дата\nРед 3: сума\n";
    json typed = validate(folder);
    EXPECT_EQ(typed["status"], "invalid") << typed.dump();
    EXPECT_EQ(typed["errorCount"], 3);
    EXPECT_THAT(rows(), ElementsAre(std::pair<std::string, std::string>{"validator", "Ред 1: невалиден ЕИК"},
                                    std::pair<std::string, std::string>{"validator", "Ред 2: липсва дата"},
                                    std::pair<std::string, std::string>{"validator", "Ред 3: сума"}));
    // The client came through the logged-in session.
    ASSERT_EQ(portal_.requestsTo(kManifestPath).size(), 1u);
    EXPECT_TRUE(portal_.requestsTo(kManifestPath)[0].cookie(test::FakeAgency::kSessionCookie));

    fs::remove(folder + "/STANDIN-ERRORS.TXT");
    typed = validate(folder);
    EXPECT_EQ(typed["status"], "ok");
    EXPECT_EQ(typed["errorCount"], 0);
    EXPECT_EQ(rows(), (std::vector<std::pair<std::string, std::string>>{
                          {"validator", "Файловете преминават всички проверки."}}));
}

TEST_F(VatJavaOperationsTest, AnErrorPageThroughTheSessionIsNotTakenAndTheAnonymousDownloadRuns) {
    // The session's download is refused with a page of its own; the same
    // manifest is served to an anonymous caller.
    portal_.on("GET", kManifestPath, [](const test::RecordedRequest& r) {
        if (r.cookie(test::FakeAgency::kSessionCookie)) {
            return Reply::text(403, "<html><body>Достъпът е отказан.</body></html>");
        }
        Reply reply = Reply::text(200, test::JavaClientRoutes::manifest());
        reply.contentType = "application/x-java-jnlp-file";
        return reply;
    });
    EXPECT_EQ(validate(returnFolder())["status"], "ok") << result_.rows.at(0).at(1);
    const auto requests = portal_.requestsTo(kManifestPath);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[0].cookie(test::FakeAgency::kSessionCookie));
    EXPECT_FALSE(requests[1].cookie(test::FakeAgency::kSessionCookie));
}

TEST_F(VatJavaOperationsTest, ValidationWhenTheClientCannotBeInstalled) {
    portal_.on("GET", kManifestPath, Reply::text(404, "<html>няма</html>"));
    const json typed = validate(returnFolder());
    EXPECT_EQ(typed["status"], "error");
    EXPECT_EQ(rows(),
              (std::vector<std::pair<std::string, std::string>>{
                  {"bootstrap", "Не успяхме да инсталираме ZezizUR библиотеките. Проверете вход в НАП."}}));
}

TEST_F(VatJavaOperationsTest, ReturnStopsBeforeJavaAndThePortal) {
    const std::string folder = returnFolder();
    const std::string withoutSales = files_.sub("непълна");
    fs::create_directories(withoutSales);
    for (const char* name : {"DEKLAR.TXT", "POKUPKI.TXT"}) {
        fs::copy_file(folder + "/" + name, withoutSales + "/" + name);
    }

    SubmissionResult result = file(withoutSales);
    EXPECT_EQ(result.errorMessage, "Файловата валидация не мина (преди Java)");
    EXPECT_THAT(result.nativeErrors, ElementsAre("Липсва файл: PRODAGBI.TXT"));
    {
        const ScopedJavaFinder noJava([] { return std::nullopt; });
        test::LogCapture log;
        result = file(folder);
        EXPECT_EQ(result.errorMessage,
                  "За подаване на ДДС декларация е нужна Java (Java 11 или по-нова). Инсталирайте пакета "
                  "default-jre (sudo apt install default-jre). След инсталацията рестартирайте ВЕЛК агента и "
                  "опитайте отново.");
        EXPECT_EQ(log.count("WARN", "VAT submit: Java not found on system"), 1);
    }
    EXPECT_EQ(loginRequests(), 0u);

    result = file(folder, {{"year", "2025"}, {"month", "3"}});
    EXPECT_EQ(result.errorMessage, "Липсва задължителен параметър eik");

    session_.setZezizUrBridge(nullptr);
    EXPECT_EQ(file(folder).errorMessage, "No ZezizUrBridge configured on session");
    session_.setSigner(nullptr);
    EXPECT_EQ(file(folder).errorMessage, "No signer configured on session");
    EXPECT_FALSE(result.success);
    EXPECT_TRUE(agency_.vat().receipts().empty());
}

TEST_F(VatJavaOperationsTest, AFilingIsConfirmedByItsOwnNewRowAndItsDocumentReadBack) {
    std::vector<test::VatFiling> filings = test::defaultVatFilings();
    filings.insert(filings.begin(), earlierMarch2025());
    agency_.vat().setFilings(filings);

    const SubmissionResult result = file(returnFolder(), {{"eik", kCompanyEik},
                                                          {"year", "2025.000000"},
                                                          {"month", "3.000000"},
                                                          {"iban", "BG80BNBG96611020345678"},
                                                          {"signerEmail", "ivan@example.bg"}});
    ASSERT_TRUE(result.success) << result.errorMessage;
    EXPECT_EQ(result.documentId, "890001");
    EXPECT_EQ(result.incomeNumber, "25-1001");
    EXPECT_EQ(result.submissionDate, "14.04.2025 10:30");
    EXPECT_TRUE(result.errorMessage.empty());
    EXPECT_EQ(result.rawBodyUrl, "https://portal.nra.bg/pls/pub/ivat.pub.MonthdecQuery");
    EXPECT_EQ(result.rawBodyContentType, "text/html; charset=utf-8");
    EXPECT_THAT(result.rawBody, HasSubstr("Март 2025"));
    // The wait before the confirmation went through the session's sleeper.
    EXPECT_THAT(sleeps_, testing::Contains(std::chrono::milliseconds(1000)));

    // What the agency received: the files, signed with the user's key.
    const std::vector<test::VatReceipt> receipts = agency_.vat().receipts();
    ASSERT_EQ(receipts.size(), 1u);
    const test::VatReceipt& receipt = receipts[0];
    EXPECT_EQ(receipt.docId, "890001");
    EXPECT_EQ(receipt.certificate, kEncryptionCert);
    EXPECT_EQ(receipt.iban, "BG80BNBG96611020345678");
    EXPECT_EQ(receipt.signerEmail, "ivan@example.bg");
    const std::string& deklar = receipt.files.at("DEKLAR.TXT");
    EXPECT_EQ(deklar, test::deklarLine("BG123456789", "Тест ЕООД", "202503") + "\r\n");
    const auto cms = test::DetachedCms::parse(receipt.signature);
    ASSERT_TRUE(cms);
    EXPECT_TRUE(cms->verify(std::vector<std::uint8_t>(deklar.begin(), deklar.end()),
                            hosts_.pki().trustStore().get()));

    const VatResultInquiry resultInquiry;
    const json read = run(resultInquiry, {{"documentId", result.documentId}, {"eik", kCompanyEik}});
    EXPECT_EQ(read["status"], "ok") << read.dump();
    EXPECT_EQ(read["rawBodyUrl"],
              "https://portal.nra.bg/pls/pub/ivat.pub.ShowDocument?ipId=890001&ipDocType=20");
    EXPECT_THAT(read["rawBody"].get<std::string>(), HasSubstr("Вх. № 25-1001"));
    EXPECT_THAT(read["rawBody"].get<std::string>(), HasSubstr("Документът е приет."));
}

TEST_F(VatJavaOperationsTest, AnEarlierFilingOfThePeriodIsNeverTakenForTheNewOne) {
    std::vector<test::VatFiling> filings = test::defaultVatFilings();
    filings.insert(filings.begin(), earlierMarch2025());
    const std::string folder = returnFolder();
    struct Case {
        std::string name;
        int listingDelay;  // page reads after the filing without its row
        int failingReads;  // page reads that fail, from the one before the filing
    };
    for (const Case& c : {Case{"listed late", 1, 0}, Case{"no page before the filing", 0, 1}}) {
        SCOPED_TRACE(c.name);
        agency_.script();
        portal_.clearRequests();
        agency_.vat().setFilings(filings);
        agency_.vat().setListingDelay(c.listingDelay);
        agency_.vat().failPageReads(c.failingReads);
        test::LogCapture log;
        const SubmissionResult result = file(folder);
        EXPECT_FALSE(result.success);
        EXPECT_EQ(result.errorMessage, kNotConfirmed);
        EXPECT_TRUE(result.documentId.empty());
        EXPECT_TRUE(result.incomeNumber.empty());
        EXPECT_FALSE(result.rawBody.empty());
        // The filing itself went through.
        ASSERT_EQ(agency_.vat().receipts().size(), 1u);
        EXPECT_EQ(portal_.requestsTo(kPagePath).size(), 2u);
        EXPECT_EQ(log.count("INFO", "VAT submit: matched row"), 0);
    }
}

// The filing went through, but the results page read after it names no
// document for it: a failed page, or a new row whose document id is "0".
TEST_F(VatJavaOperationsTest, AResultsPageWithoutTheFilingsDocumentLeavesItUnconfirmed) {
    const std::string zeroRow =
        "<tr class=\"row\" onmouseover=\"hl(this)\"><td>0</td><td>25-1001/14.04.2025 10:30</td>"
        "<td>Март 2025</td><td></td><td></td><td>електронно</td><td>Иван Петров</td><td></td>"
        "<td><a href=\"download?ipsystem_id=9&amp;ipendpoint_id=1&amp;ipdoc_id=0\">DEKLAR.TXT</a></td></tr>";
    struct Case {
        std::string name;
        Reply afterFiling;
        std::string incomeNumber;
        std::string submissionDate;
        std::string warning;  // "" for none expected
    };
    const std::vector<Case> cases = {
        {"HTTP 500", Reply::text(500, "<html>Грешка</html>"), "", "",
         "VAT submit: results page fetch failed — HTTP 500"},
        {"document id 0", Reply::text(200, "<html><table>" + zeroRow + "</table></html>"), "25-1001",
         "14.04.2025 10:30", ""},
    };
    const std::string folder = returnFolder();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int reads = 0;
        portal_.on("GET", kPagePath, [&reads, &c](const test::RecordedRequest&) {
            Reply reply = ++reads == 1 ? Reply::text(200, "<html><table></table></html>") : c.afterFiling;
            reply.contentType = "text/html; charset=utf-8";
            return reply;
        });
        test::LogCapture log;
        const SubmissionResult result = file(folder);
        EXPECT_FALSE(result.success);
        EXPECT_EQ(result.errorMessage, kNotConfirmed);
        EXPECT_EQ(result.incomeNumber, c.incomeNumber);
        EXPECT_EQ(result.submissionDate, c.submissionDate);
        EXPECT_EQ(result.rawBody.empty(), c.afterFiling.status != 200);
        EXPECT_EQ(reads, 2);
        if (!c.warning.empty()) {
            EXPECT_EQ(log.count("WARN", c.warning), 1);
        }
    }
}

TEST_F(VatJavaOperationsTest, TheClientsAndTheValidatorsErrorsEndTheReturn) {
    const std::string folder = returnFolder();
    std::ofstream(folder + "/STANDIN-ERRORS.TXT") << "Ред 2: невалиден ЕИК\n";
    SubmissionResult result = file(folder);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.errorMessage, "ZezizUR validator returned errors");
    EXPECT_THAT(result.nativeErrors, ElementsAre("Ред 2: невалиден ЕИК"));

    fs::remove(folder + "/STANDIN-ERRORS.TXT");
    std::ofstream(folder + "/STANDIN-NATIVE-ERRORS.TXT") << "E101: периодът е приключен\nE102: втора\n";
    result = file(folder);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.errorMessage, "E101: периодът е приключен");
    EXPECT_THAT(result.nativeErrors, ElementsAre("E101: периодът е приключен", "E102: втора"));
    EXPECT_TRUE(agency_.vat().receipts().empty());
    EXPECT_TRUE(result.documentId.empty());
}

}  // namespace
}  // namespace velk::core::features::vat
