#include "features/catalog/NapCatalogInquiry.h"

#include "features/common/NotImplemented.h"
#include "operations/InquiryResultSchemas.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::catalog {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<NapCatalogInquiry>();

}  // namespace

std::string NapCatalogInquiry::typeId() const {
    return "nap_catalog";
}

std::string NapCatalogInquiry::displayName() const {
    return "Списък на всички справки и услуги (NAP catalog)";
}

std::string NapCatalogInquiry::featureGroupId() const {
    return "catalog";
}

std::string NapCatalogInquiry::featureGroupName() const {
    return "Каталог НАП";
}

std::int32_t NapCatalogInquiry::backendKind() const {
    return 1;
}

std::int32_t NapCatalogInquiry::flowKind() const {
    return 1;
}

std::string NapCatalogInquiry::description() const {
    return "Плосък списък на категории, услуги и линкове от `GET /api/base/categories`. Използва се за "
           "откриване на наличните справки и техните serviceId-та.";
}

bool NapCatalogInquiry::requiresSubmissionToken() const {
    return false;
}

operations::ResultSchema NapCatalogInquiry::resultSchema() const {
    return operations::napCatalogResultSchema();
}

std::vector<operations::ParamSpec> NapCatalogInquiry::params() const {
    return {
        {"filter",
         "Филтър",
         operations::ParamType::String,
         false,
         {},
         {},
         "Подниз в име/заглавие/URL; празно = всички"},
    };
}

operations::InquiryResult NapCatalogInquiry::run(infra::portal::NapSession* /*session*/,
                                                 const operations::ParamMap& /*params*/) const {
    return notImplementedInquiry();
}

}  // namespace velk::core::features::catalog
