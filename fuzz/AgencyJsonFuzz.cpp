// The agency's JSON replies: the bounded reader for outside JSON, the member
// readers of the portal's replies (taxpayers, the catalogue, debts and
// obligations, the listing of forms 1 and 6) and the REST API's submit and
// status replies. Nothing throws but the reader's own JSON errors, what was
// read never nests past the bound, every text read writes out as JSON, and
// numbers read back as the numbers they were.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "JsonDepth.h"
#include "common/JsonUtils.h"
#include "common/TextUtils.h"
#include "features/common/DebtPaymentsPortal.h"
#include "features/common/PortalJsonFields.h"
#include "features/dec16/Dec16PortalListing.h"
#include "infrastructure/http/HttpResponse.h"
#include "infrastructure/portal/NapRestApiClient.h"
#include "infrastructure/portal/PortalJsonReaders.h"
#include "infrastructure/portal/PortalReplies.h"

namespace {

using velk::core::isValidUtf8;
using velk::core::json;
namespace portal = velk::core::infra::portal;
namespace features = velk::core::features;

// A text read from a reply: it must write out as JSON.
void checkText(const std::string& text) {
    VELK_FUZZ_CHECK(isValidUtf8(text));
}

// The member value as a 64-bit integer, when it is exactly one.
std::optional<std::int64_t> exactInt64(const json& value) {
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return static_cast<std::int64_t>(number);
        }
        return std::nullopt;
    }
    if (value.is_number_integer()) {
        return value.get<std::int64_t>();
    }
    return std::nullopt;
}

void checkMember(const json& element, const std::string& key) {
    const char* name = key.c_str();
    const std::string asString = portal::jsonString(element, name);
    const std::string asText = portal::jsonText(element, name);
    const std::string asScalar = portal::jsonScalarText(element, name);
    checkText(asString);
    checkText(asText);
    checkText(asScalar);
    VELK_FUZZ_CHECK(asString.empty() || asString == asText);
    VELK_FUZZ_CHECK(asText.empty() || asText == asScalar);
    (void)portal::jsonBool(element, name);

    checkText(features::jsonFieldText(element, key));
    checkText(features::typeFieldText(element, key));
    VELK_FUZZ_CHECK(std::isfinite(features::jsonFieldNumber(element, key)));

    const std::int64_t asInt = portal::jsonInt64(element, name);
    if (!element.is_object() || !element.contains(key)) {
        VELK_FUZZ_CHECK(asString.empty() && asText.empty() && asScalar.empty() && asInt == 0);
        return;
    }
    const json& value = element.at(key);
    checkText(portal::jsonPropertyText(value));
    checkText(features::dec16::jsonValueText(value));
    const std::int64_t listingInt = features::dec16::jsonValueInt64(value);
    if (const std::optional<std::int64_t> exact = exactInt64(value)) {
        VELK_FUZZ_CHECK(asInt == *exact);
        VELK_FUZZ_CHECK(listingInt == *exact);
    }
    (void)features::leadingYear(asText);
}

void checkElement(const json& element) {
    static const char* const kKeys[] = {
        "name",        "pin",           "pinType",     "tin",    "email", "active",     "id",    "documentId",
        "entryNumber", "taxPeriodFrom", "d1DocFileId", "amount", "year",  "totalPages", "DOCID", "PERIOD"};
    for (const char* key : kKeys) {
        checkMember(element, key);
    }
    if (element.is_object()) {
        for (const auto& item : element.items()) {
            checkMember(element, item.key());
        }
    }
    const velk::core::Taxpayer taxpayer = portal::readTaxpayer(element);
    checkText(taxpayer.name);
    checkText(taxpayer.pin);
    checkText(taxpayer.email);
    checkText(taxpayer.authorization);
}

void checkCatalogue(const json& array) {
    const std::vector<velk::core::Category> categories = portal::readCatalogue(array);
    for (const velk::core::Category& category : categories) {
        checkText(category.id);
        checkText(category.name);
        checkText(category.title);
        for (const velk::core::Service& service : category.services) {
            checkText(service.id);
            checkText(service.name);
            checkText(service.title);
            for (const velk::core::ServiceLink& link : service.links) {
                checkText(link.id);
                checkText(link.name);
                checkText(link.title);
                checkText(link.link);
                checkText(link.linkType);
                for (const auto& [key, value] : link.props) {
                    checkText(key);
                    checkText(value);
                }
            }
        }
    }
}

void checkRestReply(std::uint8_t choice, std::string_view body) {
    static const std::int32_t kStatuses[] = {200, 201, 204, 400, 500, 0};
    velk::core::infra::http::HttpResponse response;
    response.status = kStatuses[choice % 6];
    response.body = std::string(body);
    if (response.status == 0) {
        response.error = "Couldn't connect to server";
    }
    const portal::RestApiResult result = portal::NapRestApiClient::parseRestResponse(response);
    VELK_FUZZ_CHECK(result.rawBody == body);
    VELK_FUZZ_CHECK(result.httpStatus == response.status);
    VELK_FUZZ_CHECK(result.ok == !result.documentId.empty());
    const bool success = response.status >= 200 && response.status <= 299;
    VELK_FUZZ_CHECK(success || !result.ok);
    if (!success && isValidUtf8(body)) {
        checkText(result.errorMessage);
    }
    if (result.ok) {
        checkText(result.documentId);
        checkText(result.entryNumber);
        checkText(result.entryDate);
        checkText(result.base64HtmlResult);
        checkText(result.base64FullHtmlResultInfo);
        checkText(result.base64Result);
        checkText(result.errorMessage);
    }
    // A reply of the REST API's shape with a document id is always a success.
    const std::optional<json> parsed = velk::core::tryParseExternalJson(body);
    if (success && parsed && parsed->is_object() && parsed->contains("documentId") &&
        (*parsed)["documentId"].is_string() && !(*parsed)["documentId"].get<std::string>().empty()) {
        VELK_FUZZ_CHECK(result.ok && result.documentId == (*parsed)["documentId"].get<std::string>());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velk::fuzz::InputParts parts(data, size);
    const std::uint8_t choice = parts.byte();
    const std::string_view body = parts.rest();

    VELK_FUZZ_NO_THROW({
        // The throwing reader throws only the JSON library's own errors.
        try {
            (void)velk::core::parseExternalJson(body);
        } catch (const json::exception&) {
        }

        const std::optional<json> reply = velk::core::tryParseExternalJson(body);
        if (velk::core::exceedsJsonDepth(body)) {
            VELK_FUZZ_CHECK(!reply);
        }
        if (reply) {
            VELK_FUZZ_CHECK(velk::fuzz::jsonDepth(*reply) <= velk::core::kMaxJsonDepth);
            (void)velk::core::dumpCompact(*reply);
            checkElement(*reply);
            if (reply->is_structured()) {
                for (const json& element : *reply) {
                    checkElement(element);
                }
            }
            if (reply->is_array()) {
                checkCatalogue(*reply);
            }
        }
        checkRestReply(choice, body);
    });
    return 0;
}
