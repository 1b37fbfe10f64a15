#include "features/etz123/Etz123Declaration.h"

#include <utility>

#include "common/CodeTables.h"
#include "features/common/CommonParams.h"
#include "features/common/InputChecks.h"
#include "features/common/RestFiling.h"
#include "operations/OperationRegistry.h"
#include "operations/SubmissionResultSchema.h"

namespace velk::core::features::etz123 {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<Etz123Declaration>();

}  // namespace

std::string Etz123Declaration::typeId() const {
    return "etz123";
}

std::string Etz123Declaration::displayName() const {
    return "Уведомление чл. 123 КТ";
}

std::string Etz123Declaration::featureGroupId() const {
    return "etz123";
}

std::string Etz123Declaration::featureGroupName() const {
    return "Уведомление чл. 123 КТ";
}

std::int32_t Etz123Declaration::backendKind() const {
    return 2;
}

std::int32_t Etz123Declaration::flowKind() const {
    return 4;
}

std::string Etz123Declaration::description() const {
    return "Промяна на работодателя по чл. 123 КТ.";
}

operations::ResultSchema Etz123Declaration::resultSchema() const {
    return operations::submissionResultSchema("Etz123SubmissionResult");
}

std::vector<operations::ParamSpec> Etz123Declaration::params() const {
    return {eikParam(true)};
}

operations::InputCheck Etz123Declaration::validateInput(const std::string& path) const {
    return requireExistingPath(path);
}

operations::SubmissionResult Etz123Declaration::submit(infra::portal::NapSession* session,
                                                       const std::string& filePath,
                                                       const operations::ParamMap& params) const {
    if (auto refusal = restFilingRefusal(*session, "No signer", "API key not configured")) {
        return refusedSubmission(std::move(*refusal));
    }
    return submitRestFile(
        *session, filePath, params,
        {code(DocumentFamily::Etz123), code(DocumentType::Etz123), code(ExportFormat::Xml), false});
}

std::string Etz123Declaration::documentTypeCode() const {
    return "0";
}

}  // namespace velk::core::features::etz123
