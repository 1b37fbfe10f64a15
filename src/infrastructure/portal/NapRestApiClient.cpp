#include "infrastructure/portal/NapRestApiClient.h"

#include <charconv>
#include <string_view>

#include "common/Logger.h"
#include "common/TextUtils.h"

namespace velk::core::infra::portal {

namespace {

constexpr const char* kNoApiKey = "Няма зададен API ключ.";
constexpr std::size_t kErrorPreviewBytes = 600;

json fileObject(const RestSubmitFile& file) {
    json out = json::object();
    out["base64EncodedPkcs7"] = base64Encode(file.pkcs7Signature);
    out["fileContentBase64"] = base64Encode(file.fileContent);
    out["fileDocumentType"] = documentTypeName(code(file.fileDocumentType));
    out["fileName"] = file.fileName;
    out["fileSize"] = file.fileSize;
    out["fileType"] = exportFormatName(code(file.fileType));
    out["numRecords"] = file.numRecords;
    return out;
}

json submitBody(const RestSubmitRequest& request) {
    json files = json::array();
    for (const RestSubmitFile& file : request.files) {
        files.push_back(fileObject(file));
    }
    json out = json::object();
    out["files"] = std::move(files);
    out["insuranceFund"] = request.insuranceFund;
    out["serviceDocumentType"] = documentFamilyName(code(request.serviceDocumentType));
    if (!request.taxPeriodFrom.empty()) {
        out["taxPeriodFrom"] = request.taxPeriodFrom;
    }
    if (!request.taxPeriodTo.empty()) {
        out["taxPeriodTo"] = request.taxPeriodTo;
    }
    out["taxpayerPin"] = request.taxpayerPin;
    out["taxpayerPinType"] = identifierTypeName(code(request.taxpayerPinType));
    out["userPin"] = request.userPin;
    out["userPinType"] = identifierTypeName(code(request.userPinType));
    // The agency reads the filer's certificate under this name.
    out["userSignatureBase64"] = base64Encode(request.userCertificateDer);
    if (!request.year.empty()) {
        out["year"] = request.year;
    }
    return out;
}

// A number only when the whole trimmed text is decimal digits that fit in
// 64 bits; anything else ("12abc", "D-1", "") stays the text it is.
json documentIdValue(const std::string& documentId) {
    const std::string_view digits = trimView(documentId);
    std::uint64_t number = 0;
    if (!digits.empty() && digits.front() >= '0' && digits.front() <= '9') {
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (ec == std::errc() && end == digits.data() + digits.size()) {
            return number;
        }
    }
    return documentId;
}

bool isSuccess(std::int32_t status) {
    return status >= 200 && status <= 299;
}

}  // namespace

NapRestApiClient::NapRestApiClient(http::HttpClient* http, std::string submitUrl, std::string statusUrl,
                                   std::string apiKey)
    : http_(http),
      submitUrl_(std::move(submitUrl)),
      statusUrl_(std::move(statusUrl)),
      apiKey_(std::move(apiKey)) {}

http::HttpResponse NapRestApiClient::send(const std::string& url, const json& body) {
    const http::HttpHeaders headers = {
        {"Accept", "application/json"},
        {"Authorization", "Bearer " + apiKey_},
    };
    return http_->post(url, dumpCompact(body), "application/json", headers);
}

RestApiResult NapRestApiClient::submit(const RestSubmitRequest& request) {
    if (apiKey_.empty()) {
        logLine(LogLevel::Warn, "NapRestApiClient::submit: no API key configured");
        RestApiResult result;
        result.errorMessage = kNoApiKey;
        return result;
    }
    RestApiResult result = parseRestResponse(send(submitUrl_, submitBody(request)));
    if (result.ok) {
        logLine(LogLevel::Info, "NapRestApiClient::submit ok, doc=" + escapeControlBytes(result.documentId));
    } else {
        logLine(LogLevel::Warn,
                "NapRestApiClient::submit failed: " + escapeControlBytes(result.errorMessage));
    }
    return result;
}

RestApiResult NapRestApiClient::checkStatus(const std::string& documentId, const std::string& taxpayerPin,
                                            IdentifierType taxpayerPinType, const std::string& userPin,
                                            IdentifierType userPinType,
                                            const std::vector<std::uint8_t>& userCertificateDer) {
    if (apiKey_.empty()) {
        logLine(LogLevel::Warn, "NapRestApiClient::checkStatus: no API key configured");
        RestApiResult result;
        result.errorMessage = kNoApiKey;
        return result;
    }
    json body = json::object();
    body["documentId"] = documentIdValue(documentId);
    body["taxpayerPin"] = taxpayerPin;
    body["taxpayerPinType"] = identifierTypeName(code(taxpayerPinType));
    body["userPin"] = userPin;
    body["userPinType"] = identifierTypeName(code(userPinType));
    body["userSignatureBase64"] = base64Encode(userCertificateDer);

    RestApiResult result = parseRestResponse(send(statusUrl_, body));
    if (!isSuccess(result.httpStatus)) {
        logLine(LogLevel::Warn,
                "NapRestApiClient::checkStatus failed: " + escapeControlBytes(result.errorMessage));
        return result;
    }
    result.ok = !result.documentId.empty();
    if (!result.ok) {
        logLine(LogLevel::Warn, "NapRestApiClient::checkStatus: empty documentId in response");
    }
    return result;
}

RestApiResult NapRestApiClient::parseRestResponse(const http::HttpResponse& response) {
    RestApiResult result;
    result.httpStatus = response.status;
    result.rawBody = response.body;
    if (!response.error.empty()) {
        result.errorMessage = "transport: " + response.error;
        return result;
    }
    if (!isSuccess(response.status)) {
        result.errorMessage = "HTTP " + std::to_string(response.status);
        if (!response.body.empty()) {
            // Cut back to a character boundary: the text goes into JSON answers.
            result.errorMessage += " — " + utf8SafePrefix(response.body, kErrorPreviewBytes);
        }
        return result;
    }
    json answer;
    try {
        answer = parseExternalJson(response.body);
    } catch (const json::exception& e) {
        // A number out of range ("1e400") fails like bad text: no exception
        // may leave the client, or an accepted filing would end as a throw.
        result.errorMessage = std::string("json parse: ") + e.what();
        return result;
    }
    if (answer.is_object()) {
        // Only text or a number names a document: false, {} or [] would
        // read as the id "false", "{}" or "[]" and an accepted filing.
        const auto id = answer.find("documentId");
        if (id != answer.end() && (id->is_string() || id->is_number())) {
            result.documentId = jsonToText(*id);
        }
        result.entryNumber = jsonFieldText(answer, "entryNumber");
        result.entryDate = jsonFieldText(answer, "entryDate");
        result.base64HtmlResult = jsonFieldText(answer, "base64HtmlResult");
        result.base64FullHtmlResultInfo = jsonFieldText(answer, "base64FullHtmlResultInfo");
        result.base64Result = jsonFieldText(answer, "base64Result");
        if (answer.contains("errorMessage")) {
            result.errorMessage = jsonToText(answer["errorMessage"]);
        }
    }
    result.ok = !result.documentId.empty();
    return result;
}

std::string NapRestApiClient::jsonToText(const json& value) {
    switch (value.type()) {
        case json::value_t::null:
            return {};
        case json::value_t::string:
            return value.get<std::string>();
        case json::value_t::boolean:
            return value.get<bool>() ? "true" : "false";
        case json::value_t::number_integer:
            return std::to_string(value.get<std::int64_t>());
        case json::value_t::number_unsigned:
            return std::to_string(value.get<std::uint64_t>());
        case json::value_t::number_float:
            return formatFixed(value.get<double>(), 6);
        default:
            return dumpCompact(value);
    }
}

std::string NapRestApiClient::jsonFieldText(const json& object, const std::string& name) {
    if (!object.is_object()) {
        return {};
    }
    const auto it = object.find(name);
    return it == object.end() ? std::string() : jsonToText(*it);
}

}  // namespace velk::core::infra::portal
