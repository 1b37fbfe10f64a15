#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fakes/TestServer.h"
#include "support/TestPki.h"

namespace velk::test {

// How the portal answers the next accepted-for-checking upload.
enum class UploadOutcome {
    Accepted,      // 200, the acceptance words and "pid=NNN"; the document joins the listing
    Refused,       // 200, an error page without a pid
    Unrecognised,  // 200, a page with neither words nor pid
    ServerError,   // 500 with an HTML page
};

// A document of the portal's listings of PLS filings.
struct PlsDocument {
    std::string module;  // lower case, "dec2009.ipubxmldec"
    std::string eik;
    std::string pid;
    std::string incomeNumber;
    std::string incomeDate;  // DD.MM.YYYY
    int year = 0;
    int month = 0;  // 0: the filing named none
    std::string fileName;
    std::string content;  // the file as the agency read it, decompressed
};

// The portal's legacy PLS pages below "/pls/pub/":
// - POST "!<module>.upload_file" (module in any case): a live session, a
//   selected taxpayer with the selection cookies ("selectedContext",
//   "tpId", "selectedServiceId"), "pfilename", "pyear", "signerId" 5, "pdata"
//   the base64 of one gzip member of CR LF text without a byte-order mark,
//   "psign" the base64 of a detached CMS over that text with a
//   signingCertificateV2 naming the certificate the session logged in with;
// - POST "!dec2009.ipubxmldec.ajaxListDocuments": the DataTables request
//   with its 61 fields (names unescaped) and its two headers; JSON "data"
//   rows of the audit files of the selected taxpayer in filing order, the
//   texts as strings: "length" of them from the "start"th, "recordsTotal"
//   all of them;
// - GET "<module>.linkDocuments": an HTML table, one onmouseover row per
//   document of the module and taxpayer, the year in the sixth cell;
// - GET "<module>.showResult?pid=N": the document's result page; those of
//   "dec2009.ipubxsd_val_dec" in windows-1251, the others in UTF-8, each
//   with its charset in the Content-Type header.
// A request that fails a check is answered 400 "fake-agency: <why>" (401
// without a live session) and the reason is kept in rejections().
class PlsRoutes {
public:
    using LiveCheck = std::function<bool(const RecordedRequest&)>;
    using TextSource = std::function<std::string()>;

    explicit PlsRoutes(const TestPki& pki);

    // Installs the routes on the portal (login is read for the subject the
    // session logged in with) and forgets the documents, outcomes and
    // rejections.
    void install(TestServer& portal, TestServer& login, LiveCheck live, TextSource taxpayersJson);

    // The next uploads that pass the checks end so, one each; then Accepted.
    void queueUploadOutcomes(const std::vector<UploadOutcome>& outcomes);
    // A document the listings show as if filed earlier.
    void addDocument(PlsDocument document);
    void forgetDocuments();
    std::vector<PlsDocument> documents() const;
    std::vector<std::string> rejections() const;

private:
    struct State;
    const TestPki& pki_;
    std::shared_ptr<State> state_;
};

}  // namespace velk::test
