#include "features/common/DebtPaymentsPortal.h"

#include <exception>
#include <limits>
#include <utility>

#include "common/AgencyEndpoints.h"
#include "common/JsonUtils.h"
#include "common/TextUtils.h"
#include "features/common/PortalInquiryOutcome.h"
#include "infrastructure/portal/NapSession.h"
#include "infrastructure/portal/PortalHeaders.h"

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

std::optional<nlohmann::json> fetchObligations(infra::portal::NapSession& session, const std::string& url,
                                               operations::InquiryResult& result,
                                               std::string_view className) {
    infra::portal::PortalResponse response =
        session.httpGetWithHeaders(url, infra::portal::PortalJsonHeaders);
    keepJsonReply(result, std::move(response.body));
    if (!isHttpSuccess(response.status)) {
        markFailed(result, httpFailureText(response.status, url));
        return std::nullopt;
    }
    try {
        nlohmann::json reply = parseExternalJson(result.rawBody);
        if (!reply.is_array()) {
            markFailed(result, "Неочакван JSON — не е масив");
            return std::nullopt;
        }
        return reply;
    } catch (const std::exception& e) {
        markParseFailure(result, className, e);
        return std::nullopt;
    }
}

}  // namespace velk::core::features
