#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "operations/OperationRecords.h"

namespace velk::core::infra::portal {

// The portal's listing of submitted PLS documents as the agent reports it.

// Cell positions of a listing row, in column order.
enum PlsListingCell : std::size_t {
    kCompanyIdCell = 0,
    kPeriodMonthCell = 1,
    kPeriodYearCell = 2,
    kIncomeNumberCell = 3,
    kIncomeDateCell = 4,
    kDocumentIdCell = 5,
};

// companyId, periodMonth, periodYear, incomeNumber, incomeDate, documentId.
std::vector<operations::ResultColumn> plsListingColumns();

// The six columns, no rows, no raw body and the one metadata entry "error".
operations::InquiryResult listingError(const std::string& message);

struct PlsPeriod {
    std::optional<std::int32_t> month;
    std::optional<std::int32_t> year;
};

// "03.2024", "3/2024" or "03-2024": split at the first '.', '/' or '-', each
// side read like strtol. Both parts or neither: a side without a number, or
// one outside 32 bits, leaves both empty. Values are not range-checked.
PlsPeriod parsePlsPeriod(std::string_view period);

}  // namespace velk::core::infra::portal
