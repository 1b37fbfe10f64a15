#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace velk::core::infra::portal {
class NapSession;
}

namespace velk::core::features::vat {

// One filed VAT return as the portal's results page lists it; the texts are
// UTF-8.
struct MonthdecRow {
    std::string docId;  // decimal digits, never empty
    std::string incomeNumber;
    std::string submittedAt;
    std::string period;  // "Март 2024"
    std::string user;
    std::string submitMethod;
    std::set<std::int32_t> endpointIds;  // the files offered for download, 1..4
};

struct MonthdecQueryResult {
    std::int32_t httpStatus = 0;  // 0 when no response arrived
    // The start of the page as UTF-8 (decoded by the page's charset), at most
    // kMonthdecPreviewBytes bytes, never cut inside a character.
    std::string preview;
    std::string url;
    std::vector<MonthdecRow> rows;  // in page order; only for a 2xx status
    std::string body;               // as received
    std::string contentType;        // the reply's Content-Type header; empty when it had none
};

inline constexpr std::size_t kMonthdecPreviewBytes = 600;

// The four files of a filed VAT return; the id is the portal's ipendpoint_id.
struct VatEndpointFile {
    std::int32_t id;
    const char* key;
    const char* fileName;
    bool journal;  // one record a line (parseJournal), else the declaration (parseDeklar)
};

inline constexpr std::array<VatEndpointFile, 4> kVatEndpointFiles = {{
    {1, "declaration", "DEKLAR.TXT", false},
    {2, "purchases", "POKUPKI.TXT", true},
    {3, "sales", "PRODAGBI.TXT", true},
    {4, "vies", "VIES.TXT", true},
}};

// "https://<portal>/pls/pub/" + page.
std::string plsPubUrl(const std::string& page);

// Reads the portal's list of filed VAT returns ("ivat.pub.MonthdecQuery").
// The session must have been prepared for the taxpayer and the service
// "vat-report"; this makes the one request and neither logs in nor retries.
MonthdecQueryResult VatMonthdecQuery(infra::portal::NapSession& session);

// Rows of one tax period: those whose period text holds the month's
// Bulgarian name, a blank and the year. None for a month outside 1..12.
std::vector<MonthdecRow> filterMonthdecRowsByPeriod(const std::vector<MonthdecRow>& rows, std::int32_t year,
                                                    std::int32_t month);

// n of 1..4 for every "ipendpoint_id=<n>&" in the cell.
std::set<std::int32_t> parseEndpointIds(std::string_view cellHtml);

// The digits after the first "ipdoc_id=" (ASCII case ignored) that has any.
std::string parseDocId(std::string_view cellHtml);

std::string monthdecDownloadUrl(std::int32_t systemId, std::int32_t endpointId, const std::string& docId);

}  // namespace velk::core::features::vat
