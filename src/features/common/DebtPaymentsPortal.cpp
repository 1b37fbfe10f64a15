#include "features/common/DebtPaymentsPortal.h"

#include <limits>

#include "common/AgencyEndpoints.h"
#include "common/TextUtils.h"

namespace velk::core::features {

std::string debtPaymentsUrl(std::string_view type, std::int32_t year) {
    return std::string(AgencyEndpoints::kPortalBaseUrl) +
           "/api/base/debt-payments?TYPE=" + percentEncode(type) + "&YEAR=" + std::to_string(year);
}

std::string debtPaymentTypesUrl() {
    return std::string(AgencyEndpoints::kPortalBaseUrl) + "/api/base/debt-payments/types";
}

std::optional<std::int32_t> leadingYear(std::string_view text) {
    const std::optional<std::int64_t> value = parseInt64(text);
    if (!value || *value < std::numeric_limits<std::int32_t>::min() ||
        *value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(*value);
}

}  // namespace velk::core::features
