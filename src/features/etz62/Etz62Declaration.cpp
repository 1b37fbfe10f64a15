#include "features/etz62/Etz62Declaration.h"

#include <utility>

#include "common/CodeTables.h"
#include "features/common/CommonParams.h"
#include "features/common/InputChecks.h"
#include "features/common/RestFiling.h"
#include "operations/OperationRegistry.h"
#include "operations/SubmissionResultSchema.h"

namespace velk::core::features::etz62 {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<Etz62Declaration>();

}  // namespace

std::string Etz62Declaration::typeId() const {
    return "etz62";
}

std::string Etz62Declaration::displayName() const {
    return "Уведомление чл. 62 КТ";
}

std::string Etz62Declaration::featureGroupId() const {
    return "etz62";
}

std::string Etz62Declaration::featureGroupName() const {
    return "Уведомление чл. 62 КТ";
}

std::int32_t Etz62Declaration::backendKind() const {
    return 2;
}

std::int32_t Etz62Declaration::flowKind() const {
    return 4;
}

std::string Etz62Declaration::description() const {
    return "Трудови договори и тяхното изменение / прекратяване по чл. 62 КТ.";
}

operations::ResultSchema Etz62Declaration::resultSchema() const {
    return operations::submissionResultSchema("Etz62SubmissionResult");
}

std::vector<operations::ParamSpec> Etz62Declaration::params() const {
    return {eikParam(true)};
}

operations::InputCheck Etz62Declaration::validateInput(const std::string& path) const {
    return requireExistingPath(path);
}

operations::SubmissionResult Etz62Declaration::submit(infra::portal::NapSession* session,
                                                      const std::string& filePath,
                                                      const operations::ParamMap& params) const {
    if (auto refusal = restFilingRefusal(*session, "No signer available on session",
                                         "API key is not configured in settings")) {
        return refusedSubmission(std::move(*refusal));
    }
    return submitRestFile(
        *session, filePath, params,
        {code(DocumentFamily::Etz62), code(DocumentType::Etz62), code(ExportFormat::Xml), false});
}

std::string Etz62Declaration::documentTypeCode() const {
    return "0";
}

}  // namespace velk::core::features::etz62
