#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fakes/TestServer.h"

namespace velk::test {

// One filing of forms 1 and 6 as the portal lists it.
struct Dec16Filing {
    std::int64_t tin = 1001;  // whose filing: the selected taxpayer's tin
    std::string taxpayerPin = "123456789";
    std::string taxpayerName = "Тест ЕООД";
    std::int64_t id = 0;
    std::string entryNumber;
    std::string entryDate;
    std::string taxPeriodFrom;  // "2024-03-01"
    std::string taxPeriodTo;
    std::int64_t d1DocFileId = 0;
    std::int64_t d6DocFileId = 0;
};

// The company's (tin 1001) filings, newest first: one a month from March
// 2025 back to February 2024, fourteen in all, so a listing of ten a page
// holds March 2024 on its second page. Filing k (0 for March 2025) has id
// 500 + k and the signed documents 7000 + 2k (form 1) and 7001 + 2k (form 6).
std::vector<Dec16Filing> defaultDec16Filings();

// The windows-1251 bytes the portal serves for a default signed document:
// "EMPL2021 " or "NRA62007 ", the period as "YYYY-MM", " Тест" and CR LF.
std::string defaultSignedDocumentBytes(std::int64_t documentId);

// The portal's filed forms 1 and 6:
// - GET /api/base/declarations/declarations-1-and-6?page=&size=: the
//   selected taxpayer's filings (cookie "selectedContext"), page by page
//   from page 0, as {"content", "totalPages", "totalElements", "number",
//   "size"}, each filing with its "taxpayer" object; 400 for a page or size
//   that is not a number (size 1..100) or without a selected taxpayer;
// - GET /api/base/documents/signed/{id}/download: the document's bytes
//   (windows-1251) as application/octet-stream, 404 for an unknown id.
// Both answer 401 to a caller without a live session.
class Dec16Routes {
public:
    using LiveCheck = std::function<bool(const RecordedRequest&)>;

    Dec16Routes();

    // Installs the routes and puts the default filings and documents back.
    void install(TestServer& portal, LiveCheck live);

    void setFilings(std::vector<Dec16Filing> filings);
    // Serves these bytes for the document; replaces a default one.
    void setSignedDocument(std::int64_t documentId, std::string bytes);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace velk::test
