#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fakes/TestServer.h"
#include "support/TestPki.h"

namespace velk::test {

// How the API answers the next submission that passes the checks.
enum class RestSubmitOutcome {
    Accepted,     // 200 with documentId, entryNumber and entryDate
    Refused,      // 400 with an errorMessage
    ServerError,  // 500 with an HTML page
};

// Which receipts the result endpoint returns for a known document.
enum class RestReceipt {
    FullHtml,   // base64FullHtmlResultInfo and base64HtmlResult
    HtmlOnly,   // base64HtmlResult
    PlainOnly,  // base64Result
    None,       // none of the three
};

// A declaration the API accepted.
struct RestDocument {
    std::string documentId;
    std::string entryNumber;
    std::string entryDate;
    std::string serviceDocumentType;
    std::string taxpayerPin;
    std::string taxpayerPinType;
    std::string userPin;
    std::string userPinType;
    std::string fileName;          // of the first file
    std::string fileDocumentType;  // of the first file
    std::string content;           // of the first file
    std::string requestJson;       // the whole request as received
};

// The agency's REST API for declarations (its own host):
// - POST "/declaration/api-declarations/": "Authorization: Bearer <key>"; a
//   JSON object of exactly the request's members with their types, at least
//   one file, each file's content and signature canonical base64, fileSize
//   the content's length, and each signature a detached CMS over the content
//   by the certificate in "userSignatureBase64", issued by the test CA; a
//   "DEC_1_6" request also has taxPeriodFrom = taxPeriodTo, a month "01".."12",
//   a four-digit year, and its files are "DEC_1", "DEC_6" or both in that
//   order, as txt, each numRecords the count of its lines that hold more than
//   blanks (up to a 0x1A);
// - POST "/declaration/api-declarations/result": the key; "documentId" a
//   JSON number; the answer for a document filed for that "taxpayerPin", or
//   404 with an errorMessage.
// A request that fails a check is answered 400 (401 for the key) with an
// errorMessage "fake-agency: <why>", and the reason is kept in rejections().
class RestApiRoutes {
public:
    static constexpr const char* kDefaultApiKey = "api-key-1";

    explicit RestApiRoutes(const TestPki& pki);

    // Installs the routes; back to the default key, outcomes and receipt,
    // with no documents and no rejections.
    void install(TestServer& api);

    void setApiKey(std::string key);
    void queueSubmitOutcomes(const std::vector<RestSubmitOutcome>& outcomes);
    void setReceipt(RestReceipt receipt);
    std::vector<RestDocument> documents() const;
    std::vector<std::string> rejections() const;

private:
    struct State;
    const TestPki& pki_;
    std::shared_ptr<State> state_;
};

}  // namespace velk::test
