#include "features/common/SubmissionResultInquiry.h"

#include "common/AgencyEndpoints.h"
#include "common/Logger.h"
#include "common/TextUtils.h"
#include "features/common/CommonParams.h"
#include "infrastructure/http/ResponseText.h"
#include "infrastructure/portal/NapSession.h"
#include "infrastructure/portal/PortalHeaders.h"
#include "operations/SchemaFields.h"

namespace velk::core::operations {

std::string SubmissionResultInquiry::featureGroupId() const {
    return pairedSubmission()->featureGroupId();
}

std::string SubmissionResultInquiry::featureGroupName() const {
    return pairedSubmission()->featureGroupName();
}

ResultSchema SubmissionResultInquiry::resultSchema() const {
    return {"SubmissionResultPayload",
            fieldList(schemaField("rawBody", "Тяло на отговора", FieldType::String, false,
                                  "HTML / JSON / TXT върнат от " + std::string(AgencyEndpoints::kPortalHost) +
                                      " за това подаване."),
                      schemaField("rawBodyContentType", "MIME тип", FieldType::String, false,
                                  "Content-Type на rawBody — text/html, application/json, …"),
                      schemaField("rawBodyUrl", "Изходен URL", FieldType::String, false,
                                  "URL на портала откъдето е получено rawBody (за повторна заявка)."),
                      enumField("status", "Статус",
                                "ok при успех; error когато порталът върне non-2xx или липсва документ.",
                                {"ok", "error"}),
                      schemaField("error", "Грешка", FieldType::String, true,
                                  "Текст на грешката когато status=error."))};
}

std::vector<ParamSpec> SubmissionResultInquiry::params() const {
    return {
        {"documentId",
         "Document ID",
         ParamType::String,
         true,
         {},
         {},
         "ID на подадения документ — върнат от submit операцията като documentId."},
        features::eikParam(true),
    };
}

InquiryResult SubmissionResultInquiry::run(infra::portal::NapSession* session, const ParamMap& params) const {
    InquiryResult result;
    result.metadata["status"] = "error";
    const std::string documentId = paramOr(params, "documentId", "");
    const std::string eik = paramOr(params, "eik", "");
    if (documentId.empty()) {
        return errorResult(result, "documentId е задължителен");
    }
    if (eik.empty()) {
        return errorResult(result, "eik е задължителен");
    }
    const std::optional<ServiceLink> link = session->prepareFor(*this, eik, 0);
    if (!link) {
        if (!session->lastError().empty()) {
            logLine(LogLevel::Warn, "SubmissionResultInquiry[" + typeId() +
                                        "]: portal prep failed: " + escapeControlBytes(session->lastError()));
            return errorResult(result, session->lastError());
        }
        return errorResult(result, "Не е намерена резултатна услуга в портала за тази декларация.");
    }
    const std::unique_ptr<ISubmission> declaration = pairedSubmission();
    if (!declaration) {
        return errorResult(result, "Internal: subclass returned null pairedSubmission()");
    }
    const std::string url = declaration->showResultUrl(documentId, *link);
    if (url.empty()) {
        return errorResult(result, "Internal: pairedSubmission()->showResultUrl() returned empty URL");
    }

    const infra::portal::PortalResponse response =
        session->httpGetWithHeaders(url, infra::portal::PortalPageHeaders);
    // Result pages are often windows-1251, and the answer is UTF-8 JSON: the
    // body is converted by its charset and its type says so.
    const std::optional<std::string> contentType = infra::http::findHeader(response.headers, "Content-Type");
    result.metadata["rawBodyUrl"] = url;
    result.metadata["rawBody"] = infra::http::bodyAsUtf8(response.body, contentType.value_or(""));
    result.metadata["rawBodyContentType"] =
        contentType ? infra::http::utf8ContentType(*contentType) : "text/html; charset=utf-8";
    if (response.status >= 200 && response.status <= 299) {
        result.metadata["status"] = "ok";
    } else {
        result.metadata["error"] = "HTTP " + std::to_string(response.status) + " от " + url;
    }
    return result;
}

}  // namespace velk::core::operations
