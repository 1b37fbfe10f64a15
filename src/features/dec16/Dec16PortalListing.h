#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/JsonUtils.h"

namespace velk::core::infra::portal {
class NapSession;
}  // namespace velk::core::infra::portal

namespace velk::core::features::dec16 {

// One filing of forms 1 and 6 in the portal's listing.
struct Dec16ListingRow {
    std::int64_t id = 0;  // the whole filing, both forms
    std::string entryNumber;
    std::string entryDate;
    std::string taxpayerPin;
    std::string taxpayerName;
    std::string taxPeriodFrom;  // "YYYY-MM-DD..."
    std::string taxPeriodTo;
    std::int64_t d1DocFileId = 0;  // signed form 1 document; 0 when none
    std::int64_t d6DocFileId = 0;  // signed form 6 document; 0 when none
};

// One page of the listing as read.
struct Dec16ListingPage {
    std::int32_t status = 0;
    std::string url;
    std::vector<Dec16ListingRow> rows;
    std::string body;
    std::string error;  // empty on success
    std::int32_t totalPages = 0;
    std::int32_t totalElements = 0;
};

// One GET of one page of the taxpayer's filings of forms 1 and 6, through the
// session, which must have selected the taxpayer and the service. Never
// throws for what the portal answers: every failure lands in error. Elements
// of the listing that are not objects are skipped, totals that are not
// integers read as 0.
Dec16ListingPage Dec16PortalListing(infra::portal::NapSession& session, std::int32_t page, std::int32_t size);

std::string dec16ListingUrl(std::int32_t page, std::int32_t size);

// The rows whose taxPeriodFrom begins with "YYYY-MM-", order kept; none for a
// year below 1 or a month outside 1..12.
std::vector<Dec16ListingRow> filterDec16RowsByPeriod(const std::vector<Dec16ListingRow>& rows,
                                                     std::int32_t year, std::int32_t month);

std::string signedDocumentUrl(std::int64_t documentId);

// A string as it is, an integer in decimal, a floating-point number as "%f";
// anything else the empty text.
std::string jsonValueText(const json& value);
// An integer as it is (0 when it does not fit), a string as strtoll reads it
// (0 without digits or out of range); anything else, floats included, 0.
std::int64_t jsonValueInt64(const json& value);

}  // namespace velk::core::features::dec16
