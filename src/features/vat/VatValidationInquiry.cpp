#include "features/vat/VatValidationInquiry.h"

#include "features/common/NotImplemented.h"
#include "features/vat/VatFeatureGroup.h"
#include "operations/InquiryResultSchemas.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::vat {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<VatValidationInquiry>();

}  // namespace

std::string VatValidationInquiry::typeId() const {
    return "vat_validate";
}

std::string VatValidationInquiry::displayName() const {
    return "Валидация на ДДС файлове";
}

std::string VatValidationInquiry::featureGroupId() const {
    return kVatFeatureGroupId;
}

std::string VatValidationInquiry::featureGroupName() const {
    return kVatFeatureGroupName;
}

std::int32_t VatValidationInquiry::backendKind() const {
    return 3;
}

std::int32_t VatValidationInquiry::flowKind() const {
    return 1;
}

std::string VatValidationInquiry::category() const {
    return "Валидация";
}

std::string VatValidationInquiry::description() const {
    return "Проверява DEKLAR.TXT / POKUPKI.TXT / PRODAGBI.TXT с официалния ZezizUR валидатор, без да подава "
           "нищо в НАП.";
}

operations::ResultSchema VatValidationInquiry::resultSchema() const {
    return operations::vatValidationResultSchema();
}

std::vector<operations::ParamSpec> VatValidationInquiry::params() const {
    return {
        {"directory",
         "Папка с ДДС файлове",
         operations::ParamType::String,
         true,
         {},
         {},
         "Път до папка с DEKLAR.TXT / POKUPKI.TXT / PRODAGBI.TXT"},
    };
}

operations::InquiryResult VatValidationInquiry::run(infra::portal::NapSession* /*session*/,
                                                    const operations::ParamMap& /*params*/) const {
    return notImplementedInquiry();
}

std::chrono::seconds VatValidationInquiry::cacheTtl() const {
    return std::chrono::seconds{60};
}

}  // namespace velk::core::features::vat
