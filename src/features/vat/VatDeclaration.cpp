#include "features/vat/VatDeclaration.h"

#include <filesystem>
#include <system_error>

#include "common/TextUtils.h"
#include "features/common/CommonParams.h"
#include "features/common/NotImplemented.h"
#include "features/vat/VatFeatureGroup.h"
#include "operations/OperationRegistry.h"
#include "operations/PlsUrls.h"
#include "operations/SubmissionResultSchema.h"

namespace velk::core::features::vat {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<VatDeclaration>();

}  // namespace

std::string VatDeclaration::typeId() const {
    return kVatFeatureGroupId;
}

std::string VatDeclaration::displayName() const {
    return "ДДС декларация";
}

std::string VatDeclaration::featureGroupId() const {
    return kVatFeatureGroupId;
}

std::string VatDeclaration::featureGroupName() const {
    return kVatFeatureGroupName;
}

std::int32_t VatDeclaration::backendKind() const {
    return 3;
}

std::int32_t VatDeclaration::flowKind() const {
    return 5;
}

std::string VatDeclaration::description() const {
    return "Месечна ДДС декларация с покупки и продажби (DEKLAR.TXT + POKUPKI.TXT + PRODAGBI.TXT).";
}

operations::ResultSchema VatDeclaration::resultSchema() const {
    return operations::submissionResultSchema("VatSubmissionResult");
}

std::vector<operations::ParamSpec> VatDeclaration::params() const {
    return {yearParam(true),
            monthParam(),
            eikParam(true),
            {"iban", "IBAN за възст.", operations::ParamType::String, false, {}, {}, ""}};
}

std::int32_t VatDeclaration::inputKind() const {
    return static_cast<std::int32_t>(operations::InputKind::Folder);
}

operations::InputCheck VatDeclaration::validateInput(const std::string& /*path*/) const {
    return notImplementedInputCheck();
}

operations::SubmissionResult VatDeclaration::submit(infra::portal::NapSession* /*session*/,
                                                    const std::string& /*filePath*/,
                                                    const operations::ParamMap& /*params*/) const {
    return notImplementedSubmission();
}

std::string VatDeclaration::documentTypeCode() const {
    return "0";
}

std::vector<operations::FormField> VatDeclaration::extraFormFields(std::optional<std::int32_t> month,
                                                                   const std::string& iban) const {
    std::vector<operations::FormField> fields;
    if (month) {
        fields.emplace_back("pmonth", std::to_string(*month));
    }
    fields.emplace_back("app6", "0");
    fields.emplace_back("app9", "0");
    fields.emplace_back("appHeir", "0");
    if (!iban.empty()) {
        fields.emplace_back("iban", iban);
    }
    fields.emplace_back("ibanDisabled", iban.empty() ? "1" : "0");
    return fields;
}

// A return is a folder; the portal expects the declaration's own file name then.
std::string VatDeclaration::uploadFileName(const std::string& path) const {
    std::error_code error;
    if (!path.empty() && std::filesystem::is_directory(path, error)) {
        return "deklar.txt";
    }
    return ISubmission::uploadFileName(path);
}

// The VAT module's document page rather than a showResult page; the link plays no part.
std::string VatDeclaration::showResultUrl(const std::string& pid, const ServiceLink& /*link*/) const {
    return operations::plsBaseUrl() + "ivat.pub.ShowDocument?ipId=" + percentEncode(pid) + "&ipDocType=20";
}

std::int32_t VatDeclaration::reservedInt() const {
    return 1;
}

bool VatDeclaration::reservedFlagA() const {
    return true;
}

bool VatDeclaration::reservedFlagB() const {
    return true;
}

std::string VatDeclaration::serviceName() const {
    return "vat-report";
}

std::string VatDeclaration::submitLinkName() const {
    return "vat-report-2";
}

std::string VatDeclaration::reportLinkName() const {
    return "vat-report-1";
}

std::string VatDeclaration::plsModule() const {
    return "IVAT.PUB";
}

}  // namespace velk::core::features::vat
