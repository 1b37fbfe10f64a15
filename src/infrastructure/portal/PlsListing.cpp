#include "infrastructure/portal/PlsListing.h"

#include "common/TextUtils.h"

namespace velk::core::infra::portal {

std::vector<operations::ResultColumn> plsListingColumns() {
    return {
        {"companyId", "ЕИК / Булстат"}, {"periodMonth", "Месец"}, {"periodYear", "Година"},
        {"incomeNumber", "Вх. №"},      {"incomeDate", "Дата"},   {"documentId", "Документ ID"},
    };
}

operations::InquiryResult listingError(const std::string& message) {
    operations::InquiryResult result;
    result.columns = plsListingColumns();
    result.metadata["error"] = message;
    return result;
}

PlsPeriod parsePlsPeriod(std::string_view period) {
    const std::size_t separator = period.find_first_of("./-");
    if (separator == std::string_view::npos) {
        return {};
    }
    const std::optional<std::int32_t> month = parseInt32(period.substr(0, separator));
    const std::optional<std::int32_t> year = parseInt32(period.substr(separator + 1));
    if (!month || !year) {
        return {};
    }
    return {month, year};
}

}  // namespace velk::core::infra::portal
