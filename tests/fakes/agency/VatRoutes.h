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
// - GET "login.status": a short page saying whether the session is live.
// The first two answer 401 without a live session and 400 without a
// selected taxpayer.
class VatRoutes {
public:
    using LiveCheck = std::function<bool(const RecordedRequest&)>;

    VatRoutes();

    // Installs the routes and puts the default filings back.
    void install(TestServer& portal, LiveCheck live);

    void setFilings(std::vector<VatFiling> filings);
    // The charset the results page declares: "windows-1251" (the default,
    // bytes in windows-1251), "" (windows-1251 bytes, none declared) or
    // "utf-8" (UTF-8 bytes).
    void setPageCharset(std::string charset);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace velk::test
