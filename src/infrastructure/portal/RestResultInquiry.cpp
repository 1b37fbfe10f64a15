#include "infrastructure/portal/RestResultInquiry.h"

#include <memory>
#include <vector>

#include "common/AgencyEndpoints.h"
#include "common/CodeTables.h"
#include "common/TextUtils.h"
#include "infrastructure/http/HttpClient.h"
#include "infrastructure/http/ResponseText.h"
#include "infrastructure/portal/NapRestApiClient.h"
#include "infrastructure/portal/NapSession.h"
#include "infrastructure/portal/TaxpayerPinType.h"
#include "infrastructure/signing/ISigner.h"

namespace velk::core::infra::portal {

namespace {

using operations::InquiryResult;

bool isSuccess(std::int32_t status) {
    return status >= 200 && status <= 299;
}

// Texts from the API go into the JSON answer, which takes UTF-8 only.
InquiryResult failWith(InquiryResult& result, const std::string& message) {
    return operations::errorResult(result, toValidUtf8(message));
}

// The API's texts as they came, made UTF-8 (an error page's body need not be).
void setIfNotEmpty(InquiryResult& result, const char* key, const std::string& value) {
    if (!value.empty()) {
        result.metadata[key] = toValidUtf8(value);
    }
}

}  // namespace

std::string base64ToText(const std::string& base64) {
    if (base64.empty()) {
        return {};
    }
    const std::vector<std::uint8_t> bytes = base64Decode(base64);
    return std::string(bytes.begin(), bytes.end());
}

InquiryResult RestResultInquiry::run(NapSession& session, const operations::ParamMap& params) {
    InquiryResult result;
    result.metadata["status"] = "error";
    const std::string documentId = operations::paramOr(params, "documentId", "");
    const std::string eik = operations::paramOr(params, "eik", "");
    if (documentId.empty()) {
        return failWith(result, "documentId е задължителен");
    }
    if (eik.empty()) {
        return failWith(result, "eik е задължителен");
    }
    signing::ISigner* signer = session.signer();
    if (signer == nullptr) {
        return failWith(result, "Няма наличен signer на сесията.");
    }
    const SessionIdentity& identity = session.identity();
    if (identity.certificateId.empty()) {
        return failWith(result, "Не е избран КЕП сертификат.");
    }
    if (identity.apiKey.empty()) {
        return failWith(result, "Не е зададен API ключ.");
    }
    const std::vector<std::uint8_t> certificate = signer->getCertificateDer(identity.certificateId);
    if (certificate.empty()) {
        return failWith(result, "Неуспешен прочит на сертификата за API ключа.");
    }

    const std::unique_ptr<http::HttpClient> client = http::HttpClient::forAgent();
    NapRestApiClient api(client.get(), std::string(AgencyEndpoints::kRestSubmitUrl),
                         std::string(AgencyEndpoints::kRestResultUrl), identity.apiKey);
    const RestApiResult answer =
        api.checkStatus(documentId, eik, taxpayerPinType(session.listTaxpayers(), eik), identity.identifier,
                        static_cast<IdentifierType>(identity.identifierType), certificate);

    result.metadata["rawBodyUrl"] = std::string(AgencyEndpoints::kRestResultUrl);
    result.metadata["rawBodyContentType"] = "text/html; charset=utf-8";
    setIfNotEmpty(result, "rawJson", answer.rawBody);
    if (!isSuccess(answer.httpStatus)) {
        return failWith(result, answer.errorMessage.empty() ? "HTTP " + std::to_string(answer.httpStatus)
                                                            : answer.errorMessage);
    }
    if (!answer.errorMessage.empty()) {
        return failWith(result, answer.errorMessage);
    }

    // A receipt declares no charset: read by the pages' rule.
    if (!answer.base64FullHtmlResultInfo.empty()) {
        result.metadata["rawBody"] = http::bodyAsUtf8(base64ToText(answer.base64FullHtmlResultInfo), "");
    } else if (!answer.base64HtmlResult.empty()) {
        result.metadata["rawBody"] = http::bodyAsUtf8(base64ToText(answer.base64HtmlResult), "");
    } else if (!answer.base64Result.empty()) {
        result.metadata["rawBody"] = http::bodyAsUtf8(base64ToText(answer.base64Result), "");
        result.metadata["rawBodyContentType"] = "text/plain; charset=utf-8";
    }
    setIfNotEmpty(result, "documentId", answer.documentId);
    setIfNotEmpty(result, "incomeNumber", answer.entryNumber);
    setIfNotEmpty(result, "submittedAt", answer.entryDate);
    result.metadata["status"] = "ok";
    return result;
}

}  // namespace velk::core::infra::portal
