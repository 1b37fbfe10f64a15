#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "operations/NapSessionFwd.h"
#include "operations/OperationRecords.h"

namespace velk::core::features {

// The portal's JSON endpoints of debts and payments.

// The obligations of the selected taxpayer for a year, of one kind ("0": all
// kinds). The kind is percent-encoded: a text from the caller must not add
// parameters to the query.
std::string debtPaymentsUrl(std::string_view type, std::int32_t year);
// The reference table of the kinds, the same for every taxpayer.
std::string debtPaymentTypesUrl();

// The leading decimal integer of a year text (white space and a sign may lead,
// the rest is ignored, so "2024.000000" gives 2024); empty when there is none
// or it does not fit 32 bits.
std::optional<std::int32_t> leadingYear(std::string_view text);

// GETs the obligations at the URL and keeps the reply as the raw body. The
// parsed array, or none with the failure marked on the result: the HTTP
// status, a reply that is not JSON (WARN line of className), or not an array.
std::optional<nlohmann::json> fetchObligations(infra::portal::NapSession& session, const std::string& url,
                                               operations::InquiryResult& result, std::string_view className);

}  // namespace velk::core::features
