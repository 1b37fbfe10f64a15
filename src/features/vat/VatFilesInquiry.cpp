#include "features/vat/VatFilesInquiry.h"

#include "features/common/NotImplemented.h"
#include "features/vat/VatFeatureGroup.h"
#include "operations/InquiryResultSchemas.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::vat {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<VatFilesInquiry>();

}  // namespace

std::string VatFilesInquiry::typeId() const {
    return "vat_files_parse";
}

std::string VatFilesInquiry::displayName() const {
    return "Парсване на ДДС файлове";
}

std::string VatFilesInquiry::featureGroupId() const {
    return kVatFeatureGroupId;
}

std::string VatFilesInquiry::featureGroupName() const {
    return kVatFeatureGroupName;
}

std::int32_t VatFilesInquiry::backendKind() const {
    return 0;
}

std::int32_t VatFilesInquiry::flowKind() const {
    return 1;
}

std::string VatFilesInquiry::category() const {
    return "Декларации";
}

std::string VatFilesInquiry::description() const {
    return "Чете DEKLAR.TXT / POKUPKI.TXT / PRODAGBI.TXT от избрана папка и ги преобразува в JSON.";
}

operations::ResultSchema VatFilesInquiry::resultSchema() const {
    return operations::vatFilesParseResultSchema();
}

std::vector<operations::ParamSpec> VatFilesInquiry::params() const {
    return {
        {"directory",
         "Папка с ДДС файлове",
         operations::ParamType::String,
         true,
         {},
         {},
         "Папка, в която се намират DEKLAR.TXT / POKUPKI.TXT / PRODAGBI.TXT"},
    };
}

operations::InquiryResult VatFilesInquiry::run(infra::portal::NapSession* /*session*/,
                                               const operations::ParamMap& /*params*/) const {
    return notImplementedInquiry();
}

}  // namespace velk::core::features::vat
