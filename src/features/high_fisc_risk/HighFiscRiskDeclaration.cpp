#include "features/high_fisc_risk/HighFiscRiskDeclaration.h"

#include <array>
#include <string_view>
#include <utility>

#include "common/CodeTables.h"
#include "features/common/CommonParams.h"
#include "features/common/InputChecks.h"
#include "features/common/RestFiling.h"
#include "operations/OperationRegistry.h"
#include "operations/SubmissionResultSchema.h"

namespace velk::core::features::high_fisc_risk {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<HighFiscRiskDeclaration>();

struct Subtype {
    std::string_view name;
    DocumentType type;
};

constexpr std::array<Subtype, 6> kSubtypes = {{
    {"EU_BG", DocumentType::FiscRiskEuBg},
    {"BG_EU", DocumentType::FiscRiskBgEu},
    {"ANNUL", DocumentType::FiscRiskAnnul},
    {"CONFIRM", DocumentType::FiscRiskConfirm},
    {"BG_BG", DocumentType::FiscRiskBgBg},
    {"IMPORT", DocumentType::FiscRiskImport},
}};

}  // namespace

std::int32_t highFiscRiskDocType(const std::string& subtype) {
    for (const Subtype& entry : kSubtypes) {
        if (subtype == entry.name) {
            return code(entry.type);
        }
    }
    return 0;
}

std::string HighFiscRiskDeclaration::typeId() const {
    return "high_fisc_risk";
}

std::string HighFiscRiskDeclaration::displayName() const {
    return "Стоки висок фискален риск";
}

std::string HighFiscRiskDeclaration::featureGroupId() const {
    return "highFiscRisk";
}

std::string HighFiscRiskDeclaration::featureGroupName() const {
    return "Стоки висок фискален риск";
}

std::int32_t HighFiscRiskDeclaration::backendKind() const {
    return 2;
}

std::int32_t HighFiscRiskDeclaration::flowKind() const {
    return 4;
}

std::string HighFiscRiskDeclaration::description() const {
    return "Предварително деклариране на превози на стоки с висок фискален риск.";
}

operations::ResultSchema HighFiscRiskDeclaration::resultSchema() const {
    return operations::submissionResultSchema("HighFiscRiskSubmissionResult");
}

std::vector<operations::ParamSpec> HighFiscRiskDeclaration::params() const {
    return {
        eikParam(true),
        {"subtype",
         "Подтип",
         operations::ParamType::Enum,
         true,
         {},
         {"EU_BG", "BG_EU", "BG_BG", "IMPORT", "ANNUL", "CONFIRM"},
         "EU_BG / BG_EU / BG_BG / IMPORT / ANNUL / CONFIRM"},
    };
}

operations::InputCheck HighFiscRiskDeclaration::validateInput(const std::string& path) const {
    return requireExistingPath(path);
}

operations::SubmissionResult HighFiscRiskDeclaration::submit(infra::portal::NapSession* session,
                                                             const std::string& filePath,
                                                             const operations::ParamMap& params) const {
    if (auto refusal = restFilingRefusal(*session, "No signer", "API key not configured")) {
        return refusedSubmission(std::move(*refusal));
    }
    const std::int32_t fileDocumentType = highFiscRiskDocType(operations::paramOr(params, "subtype", ""));
    if (fileDocumentType == 0) {
        return refusedSubmission("Unknown / missing 'subtype' parameter");
    }
    return submitRestFile(
        *session, filePath, params,
        {code(DocumentFamily::HighFiscRisk), fileDocumentType, code(ExportFormat::Xml), false});
}

std::string HighFiscRiskDeclaration::documentTypeCode() const {
    return "0";
}

}  // namespace velk::core::features::high_fisc_risk
