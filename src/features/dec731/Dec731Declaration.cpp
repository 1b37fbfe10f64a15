#include "features/dec731/Dec731Declaration.h"

#include "features/common/IncomeStatements.h"
#include "features/common/InputChecks.h"
#include "infrastructure/portal/PlsResultsExecutor.h"
#include "infrastructure/portal/PlsSubmissionExecutor.h"
#include "operations/OperationRegistry.h"
#include "operations/SubmissionResultSchema.h"

namespace velk::core::features::dec731 {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<Dec731Declaration>();

}  // namespace

std::string Dec731Declaration::typeId() const {
    return "dec731";
}

std::string Dec731Declaration::displayName() const {
    return "Справка чл. 73, ал. 1 ЗДДФЛ";
}

std::string Dec731Declaration::featureGroupId() const {
    return "dec731";
}

std::string Dec731Declaration::featureGroupName() const {
    return "Справка чл. 73, ал. 1 ЗДДФЛ";
}

std::int32_t Dec731Declaration::backendKind() const {
    return 1;
}

std::int32_t Dec731Declaration::flowKind() const {
    return 2;
}

std::string Dec731Declaration::description() const {
    return "Справка по чл. 73, ал. 1 от ЗДДФЛ за изплатени доходи на физически лица.";
}

operations::ResultSchema Dec731Declaration::resultSchema() const {
    return operations::submissionResultSchema("Dec731SubmissionResult");
}

std::vector<operations::ParamSpec> Dec731Declaration::params() const {
    return incomeStatementParams();
}

operations::InputCheck Dec731Declaration::validateInput(const std::string& path) const {
    return requireRegularFile(path);
}

operations::SubmissionResult Dec731Declaration::submit(infra::portal::NapSession* session,
                                                       const std::string& filePath,
                                                       const operations::ParamMap& params) const {
    return infra::portal::PlsSubmissionExecutor::submit(*session, *this, *this, filePath, params);
}

std::string Dec731Declaration::documentTypeCode() const {
    return "19";
}

std::string Dec731Declaration::listDocumentsUrl(const ServiceLink& link) const {
    return linkDocumentsUrl(ISubmission::listDocumentsUrl(link));
}

operations::InquiryResult Dec731Declaration::fetchResults(infra::portal::NapSession* session,
                                                          const operations::ResultsQuery& query) const {
    return infra::portal::PlsResultsExecutor::fetchResultsHtml(*session, *this, *this, query);
}

std::string Dec731Declaration::serviceName() const {
    return "info-income-dif-73";
}

std::string Dec731Declaration::submitLinkName() const {
    return "info-income-dif-73-2";
}

std::string Dec731Declaration::reportLinkName() const {
    return "info-income-dif-73-1";
}

std::string Dec731Declaration::plsModule() const {
    return "DEC2009.IPUBXSD_VAL_DEC";
}

}  // namespace velk::core::features::dec731
