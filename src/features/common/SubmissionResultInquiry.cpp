#include "features/common/SubmissionResultInquiry.h"

#include "common/AgencyEndpoints.h"
#include "features/common/CommonParams.h"
#include "features/common/NotImplemented.h"
#include "operations/SchemaFields.h"

namespace velk::core::operations {

std::string SubmissionResultInquiry::featureGroupId() const {
    return pairedSubmission()->featureGroupId();
}

std::string SubmissionResultInquiry::featureGroupName() const {
    return pairedSubmission()->featureGroupName();
}

ResultSchema SubmissionResultInquiry::resultSchema() const {
    return {
        "SubmissionResultPayload",
        {
            schemaField("rawBody", "Тяло на отговора", FieldType::String, false,
                        "HTML / JSON / TXT върнат от " + std::string(AgencyEndpoints::kPortalHost) +
                            " за това подаване."),
            schemaField("rawBodyContentType", "MIME тип", FieldType::String, false,
                        "Content-Type на rawBody — text/html, application/json, …"),
            schemaField("rawBodyUrl", "Изходен URL", FieldType::String, false,
                        "URL на портала откъдето е получено rawBody (за повторна заявка)."),
            enumField("status", "Статус",
                      "ok при успех; error когато порталът върне non-2xx или липсва документ.",
                      {"ok", "error"}),
            schemaField("error", "Грешка", FieldType::String, true, "Текст на грешката когато status=error."),
        }};
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

InquiryResult SubmissionResultInquiry::run(infra::portal::NapSession* /*session*/,
                                           const ParamMap& /*params*/) const {
    return features::notImplementedInquiry();
}

}  // namespace velk::core::operations
