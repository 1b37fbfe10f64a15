#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fakes/TestServer.h"

namespace velk::test {

// One filed VAT return as the portal's results page lists it.
struct VatFiling {
    std::int64_t tin = 1001;  // whose filing: the selected taxpayer's tin
    std::string docId;
    std::string incomeNumber;
    std::string submittedAt;  // "16.04.2024 09:30"
    std::string period;       // UTF-8, "Март 2024"
    std::string submitMethod = "КЕП";
    std::string user = "Иван Петров";
    // The files the page links, by ipendpoint_id (1 DEKLAR, 2 POKUPKI,
    // 3 PRODAGBI, 4 VIES): their windows-1251 bytes, or nothing for a link
    // whose download answers 404.
    std::map<std::int32_t, std::optional<std::string>> files;
};

// A VAT return as the stand-in Java client sent it to the agency.
struct VatReceipt {
    std::string signerEmail;
    std::string certificate;  // the encryption certificate, base64
    std::string iban;
    std::map<std::string, std::string> files;  // "DEKLAR.TXT" etc. to their bytes
    std::vector<std::uint8_t> signature;       // detached CMS over DEKLAR.TXT
    std::string docId;                         // of the row it got; empty when none
};

// The company's (tin 1001) filings, in page order: a correction of March
// 2024 (docId 880002, DEKLAR.TXT and POKUPKI.TXT), the return of March 2024
// (880001, the three files) and that of February 2024 (880000, the three
// files and a VIES.TXT whose download fails).
std::vector<VatFiling> defaultVatFilings();

// The portal's VAT pages below "/pls/pub/":
// - GET "ivat.pub.MonthdecQuery": the selected taxpayer's filings as table
//   rows with onmouseover, nine cells each (the income number and time as
//   "N/date time" in the second, the period in the third, the way of filing
//   in the sixth, the user in the seventh, the download links in the ninth),
//   in windows-1251 with that charset declared (see setPageCharset);
// - GET "download?ipsystem_id=9&ipendpoint_id=N&ipdoc_id=D": the file's
//   windows-1251 bytes as application/octet-stream; 404 for a file the
//   filing lacks, 400 for another system id or a malformed query;
// - GET "login.status": a short page saying whether the session is live;
// - GET "ivat.pub.ShowDocument?ipId=D&ipDocType=20": the document page of
//   the selected taxpayer's filing D, 404 for another's or an unknown one.
// MonthdecQuery, download and ShowDocument answer 401 without a live session
// and 400 without a selected taxpayer.
// And the stand-in Java client's filing, POST "/ls/vat/standin-filing" (a
// form of signerEmail, certificate, iban, the files in base64 under their
// names and signature): recorded; when DEKLAR.TXT names a taxpayer's VAT
// number and a period (YYYYMM at byte 65), the filing gets a new document id
// (890001 on) and its row at the top of the results page, only from then on
// (see setListingDelay). The route needs no session, as the client has none.
class VatRoutes {
public:
    using LiveCheck = std::function<bool(const RecordedRequest&)>;

    VatRoutes();

    using TextSource = std::function<std::string()>;

    // Installs the routes and puts the default filings back; taxpayersJson
    // tells the tin of a filed VAT number.
    void install(TestServer& portal, LiveCheck live, TextSource taxpayersJson);

    void setFilings(std::vector<VatFiling> filings);
    // The rows of the next filings are left off this many results-page reads
    // after them, as when the portal lists a filing late. 0 by default.
    void setListingDelay(int reads);
    // The next results-page reads answer 500.
    void failPageReads(int count);
    // What the stand-in client sent, in order.
    std::vector<VatReceipt> receipts() const;
    // The charset the results page declares: "windows-1251" (the default,
    // bytes in windows-1251), "" (windows-1251 bytes, none declared) or
    // "utf-8" (UTF-8 bytes).
    void setPageCharset(std::string charset);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace velk::test
