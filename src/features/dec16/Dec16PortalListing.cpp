#include "features/dec16/Dec16PortalListing.h"

#include <cstdio>
#include <limits>
#include <optional>

#include "common/AgencyEndpoints.h"
#include "common/Logger.h"
#include "common/TextUtils.h"
#include "infrastructure/portal/NapSession.h"
#include "infrastructure/portal/PortalHeaders.h"

namespace velk::core::features::dec16 {

namespace {

constexpr std::size_t kBodyExcerptBytes = 400;

// A missing member reads as null.
const json& memberOrNull(const json& object, const char* name) {
    static const json kNull;
    const auto it = object.find(name);
    return it == object.end() ? kNull : *it;
}

// An integer member that fits an int, else 0.
std::int32_t totalOf(const json& object, const char* name) {
    const auto it = object.find(name);
    if (it == object.end() || !it->is_number_integer()) {
        return 0;
    }
    if (it->is_number_unsigned()) {
        const auto value = it->get<std::uint64_t>();
        return value <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())
                   ? static_cast<std::int32_t>(value)
                   : 0;
    }
    const auto value = it->get<std::int64_t>();
    return value >= std::numeric_limits<std::int32_t>::min() &&
                   value <= std::numeric_limits<std::int32_t>::max()
               ? static_cast<std::int32_t>(value)
               : 0;
}

Dec16ListingRow readRow(const json& element) {
    Dec16ListingRow row;
    row.id = jsonValueInt64(memberOrNull(element, "id"));
    row.entryNumber = jsonValueText(memberOrNull(element, "entryNumber"));
    row.entryDate = jsonValueText(memberOrNull(element, "entryDate"));
    row.taxPeriodFrom = jsonValueText(memberOrNull(element, "taxPeriodFrom"));
    row.taxPeriodTo = jsonValueText(memberOrNull(element, "taxPeriodTo"));
    row.d1DocFileId = jsonValueInt64(memberOrNull(element, "d1DocFileId"));
    row.d6DocFileId = jsonValueInt64(memberOrNull(element, "d6DocFileId"));
    const auto taxpayer = element.find("taxpayer");
    if (taxpayer != element.end() && taxpayer->is_object()) {
        row.taxpayerPin = jsonValueText(memberOrNull(*taxpayer, "pin"));
        row.taxpayerName = jsonValueText(memberOrNull(*taxpayer, "name"));
    }
    return row;
}

}  // namespace

Dec16ListingPage Dec16PortalListing(infra::portal::NapSession& session, std::int32_t page,
                                    std::int32_t size) {
    Dec16ListingPage result;
    result.url = dec16ListingUrl(page, size);

    infra::http::HttpHeaders headers = infra::portal::PortalJsonHeaders;
    headers["Referer"] = std::string(AgencyEndpoints::kPortalBaseUrl) + "/documents/dec1-and-6/api-report";
    headers["X-Requested-With"] = "XMLHttpRequest";
    headers["Accept-Language"] = "bg-BG,bg;q=0.9,en;q=0.8";
    if (!session.csrfToken().empty()) {
        headers["X-CSRF-TOKEN"] = session.csrfToken();
    }

    logLine(LogLevel::Info, "Dec16PortalListing: GET " + result.url);
    infra::portal::PortalResponse response = session.httpGetWithHeaders(result.url, headers);
    result.status = response.status;
    result.body = std::move(response.body);

    if (result.status < 200 || result.status > 299) {
        result.error = "HTTP " + std::to_string(result.status) + " от " + result.url;
        if (!result.body.empty()) {
            // The portal's error pages need not be UTF-8.
            result.error += " — " + toValidUtf8(utf8SafePrefix(result.body, kBodyExcerptBytes));
        }
        return result;
    }

    std::string parseError;
    const std::optional<json> document = tryParseExternalJson(result.body, &parseError);
    if (!document) {
        result.error = "Невалиден JSON отговор: " + toValidUtf8(parseError);
        return result;
    }
    const auto content = document->is_object() ? document->find("content") : document->end();
    if (!document->is_object() || content == document->end() || !content->is_array()) {
        result.error = "Липсва поле `content` в JSON отговора";
        return result;
    }
    result.totalPages = totalOf(*document, "totalPages");
    result.totalElements = totalOf(*document, "totalElements");
    for (const json& element : *content) {
        if (element.is_object()) {
            result.rows.push_back(readRow(element));
        }
    }
    return result;
}

std::string dec16ListingUrl(std::int32_t page, std::int32_t size) {
    return std::string(AgencyEndpoints::kPortalBaseUrl) +
           "/api/base/declarations/declarations-1-and-6?page=" + std::to_string(page) +
           "&size=" + std::to_string(size);
}

std::vector<Dec16ListingRow> filterDec16RowsByPeriod(const std::vector<Dec16ListingRow>& rows,
                                                     std::int32_t year, std::int32_t month) {
    std::vector<Dec16ListingRow> kept;
    if (year < 1 || month < 1 || month > 12) {
        return kept;
    }
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%04d-%02d-", year, month);
    for (const Dec16ListingRow& row : rows) {
        if (row.taxPeriodFrom.rfind(prefix, 0) == 0) {
            kept.push_back(row);
        }
    }
    return kept;
}

std::string signedDocumentUrl(std::int64_t documentId) {
    return std::string(AgencyEndpoints::kPortalBaseUrl) + "/api/base/documents/signed/" +
           std::to_string(documentId) + "/download";
}

std::string jsonValueText(const json& value) {
    if (value.is_string()) {
        return value.get<std::string>();
    }
    if (value.is_number_unsigned()) {
        return std::to_string(value.get<std::uint64_t>());
    }
    if (value.is_number_integer()) {
        return std::to_string(value.get<std::int64_t>());
    }
    if (value.is_number_float()) {
        return formatFixed(value.get<double>(), 6);
    }
    return {};
}

std::int64_t jsonValueInt64(const json& value) {
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        return number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                   ? static_cast<std::int64_t>(number)
                   : 0;
    }
    if (value.is_number_integer()) {
        return value.get<std::int64_t>();
    }
    if (value.is_string()) {
        return parseInt64(value.get_ref<const std::string&>()).value_or(0);
    }
    return 0;
}

}  // namespace velk::core::features::dec16
