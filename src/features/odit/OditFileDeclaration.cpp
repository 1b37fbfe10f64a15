#include "features/odit/OditFileDeclaration.h"

#include "common/TextUtils.h"
#include "features/common/CommonParams.h"
#include "features/common/InputChecks.h"
#include "infrastructure/portal/PlsResultsExecutor.h"
#include "infrastructure/portal/PlsSubmissionExecutor.h"
#include "operations/OperationRegistry.h"
#include "operations/PlsUrls.h"
#include "operations/SubmissionResultSchema.h"

namespace velk::core::features::odit {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<OditFileDeclaration>();

}  // namespace

std::string OditFileDeclaration::typeId() const {
    return "odit";
}

std::string OditFileDeclaration::displayName() const {
    return "Одиторски файл чл. 3, ал. 17 Н-18";
}

std::string OditFileDeclaration::featureGroupId() const {
    return "odit";
}

std::string OditFileDeclaration::featureGroupName() const {
    return "Одиторски файл";
}

std::int32_t OditFileDeclaration::backendKind() const {
    return 1;
}

std::int32_t OditFileDeclaration::flowKind() const {
    return 2;
}

std::string OditFileDeclaration::description() const {
    return "Стандартизиран одиторски файл по чл. 3, ал. 17 от Наредба Н-18/2006.";
}

operations::ResultSchema OditFileDeclaration::resultSchema() const {
    return operations::submissionResultSchema("OditSubmissionResult");
}

std::vector<operations::ParamSpec> OditFileDeclaration::params() const {
    return taxpayerPeriodParams();
}

operations::InputCheck OditFileDeclaration::validateInput(const std::string& path) const {
    return requireRegularFile(path);
}

operations::SubmissionResult OditFileDeclaration::submit(infra::portal::NapSession* session,
                                                         const std::string& filePath,
                                                         const operations::ParamMap& params) const {
    return infra::portal::PlsSubmissionExecutor::submit(*session, *this, *this, filePath, params);
}

std::string OditFileDeclaration::documentTypeCode() const {
    return "20";
}

std::vector<operations::FormField> OditFileDeclaration::extraFormFields(std::optional<std::int32_t> month,
                                                                        const std::string& /*iban*/) const {
    if (!month) {
        return {};
    }
    return {{"pmonth", std::to_string(*month)}};
}

// The audit file's result page has a fixed module whatever link was chosen.
std::string OditFileDeclaration::showResultUrl(const std::string& pid, const ServiceLink& /*link*/) const {
    return operations::plsBaseUrl() + "dec2009.IPUBXMLDEC.showResult?pid=" + percentEncode(pid);
}

operations::InquiryResult OditFileDeclaration::fetchResults(infra::portal::NapSession* session,
                                                            const operations::ResultsQuery& query) const {
    return infra::portal::PlsResultsExecutor::fetchResultsAjax(
        *session, *this, "!dec2009.ipubxmldec.ajaxListDocuments", query);
}

bool OditFileDeclaration::reservedFlagB() const {
    return true;
}

std::string OditFileDeclaration::serviceName() const {
    return "odit-317";
}

std::string OditFileDeclaration::submitLinkName() const {
    return "odit-317-2";
}

std::string OditFileDeclaration::reportLinkName() const {
    return "odit-317-1";
}

std::string OditFileDeclaration::plsModule() const {
    return "DEC2009.IPUBXMLDEC";
}

}  // namespace velk::core::features::odit
