#include "features/high_fisc_risk/HighFiscRiskResultInquiry.h"

#include "features/common/RestResultDescription.h"
#include "features/high_fisc_risk/HighFiscRiskDeclaration.h"
#include "infrastructure/portal/RestResultInquiry.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::high_fisc_risk {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<HighFiscRiskResultInquiry>();

}  // namespace

std::string HighFiscRiskResultInquiry::typeId() const {
    return "high_fisc_risk_result";
}

std::string HighFiscRiskResultInquiry::displayName() const {
    return "Стоки висок фискален риск — резултат";
}

std::int32_t HighFiscRiskResultInquiry::backendKind() const {
    return 2;
}

std::int32_t HighFiscRiskResultInquiry::flowKind() const {
    return 4;
}

std::string HighFiscRiskResultInquiry::description() const {
    return restResultDescription(
        "Изтегля HTML резултата за подадена декларация Стоки с висок фискален риск от ");
}

operations::InquiryResult HighFiscRiskResultInquiry::run(infra::portal::NapSession* session,
                                                         const operations::ParamMap& params) const {
    return infra::portal::RestResultInquiry::run(*session, params);
}

std::unique_ptr<operations::ISubmission> HighFiscRiskResultInquiry::pairedSubmission() const {
    return std::make_unique<HighFiscRiskDeclaration>();
}

}  // namespace velk::core::features::high_fisc_risk
