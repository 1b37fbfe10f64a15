#include "infrastructure/portal/NapRestApiClient.h"

#include <gtest/gtest.h>

#include <curl/curl.h>

#include "fakes/TestServer.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace velk::core::infra::portal {
namespace {

using test::RecordedRequest;
using test::Reply;

class NapRestApiClientTest : public testing::Test {
protected:
    void SetUp() override {
        server_->on("POST", "/submit", Reply::json(200, R"({"documentId": 123})"));
        server_->on("POST", "/status", Reply::json(200, R"({"documentId": 123})"));
        server_->start();
    }

    NapRestApiClient client(std::string apiKey = "KEY-123") {
        return NapRestApiClient(http_.get(), server_->url("/submit"), server_->url("/status"),
                                std::move(apiKey));
    }

    RecordedRequest lastRequest() const {
        const auto all = server_->requests();
        EXPECT_FALSE(all.empty());
        return all.empty() ? RecordedRequest{} : all.back();
    }

    static RestSubmitRequest fullRequest() {
        RestSubmitRequest request;
        request.serviceDocumentType = DocumentFamily::Dec1_6;
        request.taxPeriodFrom = "2025-01-01";
        request.taxPeriodTo = "2025-01-31";
        request.year = "2025";
        request.insuranceFund = 4000000000u;  // beyond the signed 32-bit range
        request.userPin = "8001011234";
        request.userPinType = IdentifierType::IND_EGN;
        request.userCertificateDer = {0x30, 0x82, 0x01};
        request.taxpayerPin = "121212121";
        request.taxpayerPinType = IdentifierType::BUS_BULSTAT;
        RestSubmitFile form1;
        form1.fileName = "EMPL2021.TXT";
        form1.fileType = ExportFormat::Txt;
        form1.fileContent = {'a', 'b', 'c'};
        form1.fileSize = 3;
        form1.pkcs7Signature = {0x01, 0x02};
        form1.fileDocumentType = DocumentType::Dec1;
        form1.numRecords = 12;
        RestSubmitFile form6 = form1;
        form6.fileName = "Декларация 6.txt";
        form6.fileType = ExportFormat::Csv;
        form6.fileDocumentType = DocumentType::Dec6;
        form6.numRecords = 0;
        request.files = {form1, form6};
        return request;
    }

    test::ScopedEnv noConnectTo_{"VELK_TEST_CONNECT_TO", std::nullopt};
    std::unique_ptr<test::TestServer> server_ = test::TestServer::plain();
    std::unique_ptr<http::HttpClient> http_ = http::HttpClient::forAgent();
};

TEST_F(NapRestApiClientTest, SubmitSendsTheDeclarationAsSortedCompactJson) {
    client().submit(fullRequest());

    const RecordedRequest sent = lastRequest();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.path, "/submit");
    EXPECT_EQ(sent.header("Accept"), "application/json");
    EXPECT_EQ(sent.header("Authorization"), "Bearer KEY-123");
    EXPECT_EQ(sent.headerCount("Content-Type"), 1u);
    EXPECT_EQ(sent.header("Content-Type"), "application/json");
    EXPECT_EQ(sent.header("User-Agent"), "VezoRodarC/0.1");
    EXPECT_EQ(
        sent.body,
        R"({"files":[)"
        R"({"base64EncodedPkcs7":"AQI=","fileContentBase64":"YWJj","fileDocumentType":"DEC_1",)"
        R"("fileName":"EMPL2021.TXT","fileSize":3,"fileType":"txt","numRecords":12},)"
        R"({"base64EncodedPkcs7":"AQI=","fileContentBase64":"YWJj","fileDocumentType":"DEC_6",)"
        R"("fileName":"Декларация 6.txt","fileSize":3,"fileType":"csv","numRecords":0}],)"
        R"("insuranceFund":4000000000,"serviceDocumentType":"DEC_1_6",)"
        R"("taxPeriodFrom":"2025-01-01","taxPeriodTo":"2025-01-31",)"
        R"("taxpayerPin":"121212121","taxpayerPinType":"BUS_BULSTAT",)"
        R"("userPin":"8001011234","userPinType":"IND_EGN","userSignatureBase64":"MIIB","year":"2025"})");

    const json body = json::parse(sent.body);
    EXPECT_TRUE(body["insuranceFund"].is_number_unsigned());
    EXPECT_TRUE(body["files"][0]["fileSize"].is_number_unsigned());
    EXPECT_TRUE(body["files"][1]["numRecords"].is_number_unsigned());
}

TEST_F(NapRestApiClientTest, SubmitLeavesOutEmptyPeriodsAndKeepsEmptyFiles) {
    RestSubmitRequest request;
    request.serviceDocumentType = static_cast<DocumentFamily>(77);
    request.userPinType = IdentifierType::IND_LNCH;
    request.taxpayerPinType = static_cast<IdentifierType>(9);
    client().submit(request);
    EXPECT_EQ(
        lastRequest().body,
        R"({"files":[],"insuranceFund":0,"serviceDocumentType":"UNKNOWN","taxpayerPin":"",)"
        R"("taxpayerPinType":"UNKNOWN","userPin":"","userPinType":"IND_LNCH","userSignatureBase64":""})");

    RestSubmitRequest odd;
    RestSubmitFile file;
    file.fileType = static_cast<ExportFormat>(9);
    file.fileDocumentType = static_cast<DocumentType>(5);
    odd.files = {file};
    client().submit(odd);
    const json sentFile = json::parse(lastRequest().body)["files"][0];
    EXPECT_EQ(sentFile["fileType"], "");
    EXPECT_EQ(sentFile["fileDocumentType"], "UNKNOWN");
}

TEST_F(NapRestApiClientTest, StatusRequestSendsDigitDocumentIdsAsNumbers) {
    const std::vector<std::pair<std::string, json>> cases = {
        {"12345", 12345u},
        {" 42\t", 42u},
        {"007", 7u},
        {"18446744073709551615", 18446744073709551615u},
        {"18446744073709551616", "18446744073709551616"},
        {"12abc", "12abc"},
        {"D-12", "D-12"},
        {"-5", "-5"},
        {"+5", "+5"},
        {"", ""},
    };
    for (const auto& [documentId, expected] : cases) {
        client().checkStatus(documentId, "121212121", IdentifierType::BUS_BULSTAT, "8001011234",
                             IdentifierType::IND_EGN, {0x30});
        const json body = json::parse(lastRequest().body);
        EXPECT_EQ(body["documentId"], expected) << documentId;
        EXPECT_EQ(body["documentId"].is_number_unsigned(), expected.is_number_unsigned()) << documentId;
    }
    const RecordedRequest sent = lastRequest();
    EXPECT_EQ(sent.path, "/status");
    EXPECT_EQ(sent.header("Authorization"), "Bearer KEY-123");
    EXPECT_EQ(sent.body, R"({"documentId":"","taxpayerPin":"121212121","taxpayerPinType":"BUS_BULSTAT",)"
                         R"("userPin":"8001011234","userPinType":"IND_EGN","userSignatureBase64":"MA=="})");
}

TEST_F(NapRestApiClientTest, AnswersMapToResults) {
    const std::string longCyrillic = "a" + [] {
        std::string s;
        for (int i = 0; i < 500; ++i) {
            s += "ж";
        }
        return s;
    }();
    // Deep enough to run the stack out of anything that recurses per level.
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    struct Case {
        const char* name;
        Reply reply;
        bool ok;
        std::string errorMessage;
        std::string documentId;
    };
    const std::vector<Case> cases = {
        {"documentId as a number", Reply::json(200, R"({"documentId":123,"other":true})"), true, "", "123"},
        {"ok with a message too", Reply::json(201, R"({"documentId":"D1","errorMessage":"warning"})"), true,
         "warning", "D1"},
        {"no documentId", Reply::json(200, R"({"errorMessage":"Грешен файл"})"), false, "Грешен файл", ""},
        {"an array", Reply::json(200, "[1,2]"), false, "", ""},
        // Only text or a number names a document.
        {"documentId false", Reply::json(200, R"({"documentId":false,"entryNumber":"E-1"})"), false, "", ""},
        {"documentId an object", Reply::json(200, R"({"documentId":{}})"), false, "", ""},
        {"documentId an array", Reply::json(200, R"({"documentId":[],"errorMessage":"x"})"), false, "x", ""},
        {"not JSON", Reply::text(200, "<html>ok</html>"), false, "json parse: ", ""},
        {"JSON with trailing text", Reply::json(200, R"({"documentId":1} x)"), false, "json parse: ", ""},
        // Every JSON failure reads as a parse failure; none leaves the client.
        {"a number out of range", Reply::json(200, R"({"documentId":"D2","entryNumber":1e400})"), false,
         "json parse: [json.exception.out_of_range.406]", ""},
        {"nested too deep", Reply::json(200, R"({"documentId":)" + deep + "}"), false, "json parse: ", ""},
        {"400 JSON error", Reply::json(400, R"({"error":"bad request"})"), false,
         R"(HTTP 400 — {"error":"bad request"})", ""},
        {"500 empty", Reply::text(500, ""), false, "HTTP 500", ""},
        // 600 bytes would split a two-byte letter: the text ends before it.
        {"long Cyrillic body", Reply::text(502, longCyrillic), false,
         "HTTP 502 — " + longCyrillic.substr(0, 599), ""},
    };
    for (const Case& c : cases) {
        server_->on("POST", "/submit", c.reply);
        const RestApiResult result = client().submit(fullRequest());
        EXPECT_EQ(result.ok, c.ok) << c.name;
        EXPECT_EQ(result.httpStatus, c.reply.status) << c.name;
        EXPECT_EQ(result.rawBody, c.reply.body) << c.name;
        EXPECT_EQ(result.documentId, c.documentId) << c.name;
        if (c.errorMessage.starts_with("json parse: [")) {
            EXPECT_EQ(result.errorMessage.rfind(c.errorMessage, 0), 0u) << c.name;
        } else if (c.errorMessage == "json parse: ") {
            EXPECT_EQ(result.errorMessage.rfind("json parse: [json.exception.parse_error", 0), 0u) << c.name;
        } else {
            EXPECT_EQ(result.errorMessage, c.errorMessage) << c.name;
        }
        EXPECT_NO_THROW(dumpCompact(json(result.errorMessage))) << c.name;
    }
}

TEST_F(NapRestApiClientTest, AnswerMembersOfAnyTypeBecomeText) {
    server_->on("POST", "/submit",
                Reply::json(200, R"({"documentId":18446744073709551615,"entryNumber":-5,"entryDate":1.5,)"
                                 R"("base64HtmlResult":true,"base64FullHtmlResultInfo":null,)"
                                 R"("base64Result":{"b":[1,"ж"],"a":2},"errorMessage":"x"})"));
    const RestApiResult result = client().submit(fullRequest());
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.documentId, "18446744073709551615");
    EXPECT_EQ(result.entryNumber, "-5");
    EXPECT_EQ(result.entryDate, "1.500000");
    EXPECT_EQ(result.base64HtmlResult, "true");
    EXPECT_EQ(result.base64FullHtmlResultInfo, "");
    EXPECT_EQ(result.base64Result, R"({"a":2,"b":[1,"ж"]})");
    EXPECT_EQ(result.errorMessage, "x");
}

TEST_F(NapRestApiClientTest, LogLinesTellTheOutcomeWithoutTheKey) {
    test::LogCapture log;
    client().submit(fullRequest());
    server_->on("POST", "/submit", Reply::json(422, "{}"));
    client().submit(fullRequest());
    server_->on("POST", "/status", Reply::json(500, "{}"));
    client().checkStatus("1", "", IdentifierType::IND_EGN, "", IdentifierType::IND_EGN, {});
    server_->on("POST", "/status", Reply::json(200, R"({"entryNumber":"7"})"));
    const RestApiResult noId =
        client().checkStatus("1", "", IdentifierType::IND_EGN, "", IdentifierType::IND_EGN, {});
    EXPECT_FALSE(noId.ok);

    EXPECT_EQ(log.count("INFO", "NapRestApiClient::submit ok, doc=123"), 1);
    EXPECT_EQ(log.count("WARN", "NapRestApiClient::submit failed: HTTP 422 — {}"), 1);
    EXPECT_EQ(log.count("WARN", "NapRestApiClient::checkStatus failed: HTTP 500 — {}"), 1);
    EXPECT_EQ(log.count("WARN", "NapRestApiClient::checkStatus: empty documentId in response"), 1);
    for (const std::string& line : log.stop()) {
        EXPECT_EQ(line.find("KEY-123"), std::string::npos) << line;
    }
}

// The agency's texts cannot add or break log lines: each reply below would
// forge a line if it went to the log as it came.
TEST_F(NapRestApiClientTest, TheAgencysTextsStayOnTheirLogLine) {
    const std::string forged = "2026-01-15 10:00:00 [INFO ] NapRestApiClient::submit ok, doc=1";
    struct Case {
        std::string path;
        Reply reply;
        std::string level;
        std::string logged;
    };
    const std::vector<Case> cases = {
        {"/submit", Reply::text(500, "Грешка\r\n" + forged), "WARN",
         "NapRestApiClient::submit failed: HTTP 500 — Грешка\\x0D\\x0A" + forged},
        {"/submit", Reply::json(200, R"({"documentId":"7\u2028)" + forged + "\"}"), "INFO",
         "NapRestApiClient::submit ok, doc=7\\u2028" + forged},
        {"/status", Reply::text(503, "x\xC2\x85" + forged), "WARN",
         "NapRestApiClient::checkStatus failed: HTTP 503 — x\\u0085" + forged},
    };
    for (const Case& c : cases) {
        server_->on("POST", c.path, c.reply);
        test::LogCapture log;
        if (c.path == "/submit") {
            client().submit(fullRequest());
        } else {
            client().checkStatus("1", "", IdentifierType::IND_EGN, "", IdentifierType::IND_EGN, {});
        }
        EXPECT_EQ(log.count(c.level, c.logged), 1) << c.logged;
        for (const std::string& line : log.stop()) {
            EXPECT_NE(line, forged);
            EXPECT_EQ(line.find("\xE2\x80\xA8"), std::string::npos) << line;
            EXPECT_EQ(line.find("\xC2\x85"), std::string::npos) << line;
        }
    }
}

TEST_F(NapRestApiClientTest, WithoutAnApiKeyNothingIsSent) {
    test::LogCapture log;
    const RestApiResult submitted = client("").submit(fullRequest());
    const RestApiResult checked =
        client("").checkStatus("1", "", IdentifierType::IND_EGN, "", IdentifierType::IND_EGN, {});
    for (const RestApiResult& result : {submitted, checked}) {
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.httpStatus, 0);
        EXPECT_EQ(result.errorMessage, "Няма зададен API ключ.");
    }
    EXPECT_TRUE(server_->requests().empty());
    EXPECT_EQ(log.count("WARN", "NapRestApiClient::submit: no API key configured"), 1);
    EXPECT_EQ(log.count("WARN", "NapRestApiClient::checkStatus: no API key configured"), 1);
}

TEST_F(NapRestApiClientTest, TransportFailureIsReportedWithLibcurlsText) {
    NapRestApiClient unreachable(http_.get(), "http://no-such-host.invalid/submit",
                                 "http://no-such-host.invalid/status", "KEY");
    const std::string expected = std::string("transport: ") + curl_easy_strerror(CURLE_COULDNT_RESOLVE_HOST);
    const RestApiResult submitted = unreachable.submit(fullRequest());
    const RestApiResult checked =
        unreachable.checkStatus("1", "", IdentifierType::IND_EGN, "", IdentifierType::IND_EGN, {});
    for (const RestApiResult& result : {submitted, checked}) {
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.httpStatus, 0);
        EXPECT_EQ(result.errorMessage, expected);
    }
}

TEST_F(NapRestApiClientTest, TextThatIsNotUtf8CannotBeSent) {
    RestSubmitRequest request = fullRequest();
    request.userPin = "\xFF\xFE";
    EXPECT_THROW(client().submit(request), json::type_error);
    EXPECT_TRUE(server_->requests().empty());
}

}  // namespace
}  // namespace velk::core::infra::portal
