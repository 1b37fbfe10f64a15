#include "features/dec736/Dec736Declaration.h"

#include "features/common/IncomeStatements.h"
#include "features/common/InputChecks.h"
#include "infrastructure/portal/PlsResultsExecutor.h"
#include "infrastructure/portal/PlsSubmissionExecutor.h"
#include "operations/OperationRegistry.h"
#include "operations/SubmissionResultSchema.h"

namespace velk::core::features::dec736 {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<Dec736Declaration>();

}  // namespace

std::string Dec736Declaration::typeId() const {
    return "dec736";
}

std::string Dec736Declaration::displayName() const {
    return "Справка чл. 73, ал. 6 ЗДДФЛ";
}

std::string Dec736Declaration::featureGroupId() const {
    return "dec736";
}

std::string Dec736Declaration::featureGroupName() const {
    return "Справка чл. 73, ал. 6 ЗДДФЛ";
}

std::int32_t Dec736Declaration::backendKind() const {
    return 1;
}

std::int32_t Dec736Declaration::flowKind() const {
    return 2;
}

std::string Dec736Declaration::description() const {
    return "Справка по чл. 73, ал. 6 от ЗДДФЛ за изплатени доходи по трудови правоотношения.";
}

operations::ResultSchema Dec736Declaration::resultSchema() const {
    return operations::submissionResultSchema("Dec736SubmissionResult");
}

std::vector<operations::ParamSpec> Dec736Declaration::params() const {
    return incomeStatementParams();
}

operations::InputCheck Dec736Declaration::validateInput(const std::string& path) const {
    return requireRegularFile(path);
}

operations::SubmissionResult Dec736Declaration::submit(infra::portal::NapSession* session,
                                                       const std::string& filePath,
                                                       const operations::ParamMap& params) const {
    return infra::portal::PlsSubmissionExecutor::submit(*session, *this, *this, filePath, params);
}

std::string Dec736Declaration::documentTypeCode() const {
    return "19";
}

std::string Dec736Declaration::listDocumentsUrl(const ServiceLink& link) const {
    return linkDocumentsUrl(ISubmission::listDocumentsUrl(link));
}

operations::InquiryResult Dec736Declaration::fetchResults(infra::portal::NapSession* session,
                                                          const operations::ResultsQuery& query) const {
    return infra::portal::PlsResultsExecutor::fetchResultsHtml(*session, *this, *this, query);
}

std::string Dec736Declaration::serviceName() const {
    return "info-income-dif-73-6";
}

std::string Dec736Declaration::submitLinkName() const {
    return "info-income-dif-73-6-25";
}

std::string Dec736Declaration::reportLinkName() const {
    return "info-income-dif-73-6-1";
}

std::string Dec736Declaration::plsModule() const {
    return "DEC2009.IPUBXSD_VAL_DEC";
}

}  // namespace velk::core::features::dec736
