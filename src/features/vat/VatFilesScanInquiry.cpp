#include "features/vat/VatFilesScanInquiry.h"

#include "features/common/FolderScan.h"
#include "features/common/NotImplemented.h"
#include "features/vat/VatFeatureGroup.h"
#include "operations/OperationRegistry.h"
#include "operations/SchemaFields.h"

namespace velk::core::features::vat {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<VatFilesScanInquiry>();

using operations::FieldType;
using operations::schemaField;

operations::ResultSchema filesScanResultSchema() {
    return {
        "VatFilesScanResult",
        {
            operations::rowsField(
                "files", "Файлове", "Открити ДДС файлове (DEKLAR/POKUPKI/PRODAGBI) за периода.",
                "VatFileItem",
                {
                    schemaField("name", "Име", FieldType::String, false, "Име на файла."),
                    schemaField("path", "Път", FieldType::String, false, "Пълен път (UTF-8)."),
                    schemaField("tin", "БУЛСТАТ", FieldType::String, false, "БУЛСТАТ от DEKLAR.TXT."),
                    schemaField("folder", "Папка", FieldType::String, false, "Родителската папка."),
                    schemaField("content", "Съдържание", FieldType::String, false, "UTF-8 съдържание."),
                }),
            schemaField("totalScanned", "Общо сканирани", FieldType::Integer, false,
                        "Брой DEKLAR.TXT прегледани."),
            schemaField("totalMatched", "Съответстващи", FieldType::Integer, false,
                        "Брой бъндли в зададения период."),
            operations::enumField("status", "Статус", "ok при успех; error при проблем.", {"ok", "error"}),
            schemaField("error", "Грешка", FieldType::String, true, "Текст на грешката когато status=error."),
        }};
}

}  // namespace

std::string VatFilesScanInquiry::typeId() const {
    return "vat_files_scan";
}

std::string VatFilesScanInquiry::displayName() const {
    return "Сканиране на ДДС файлове";
}

std::string VatFilesScanInquiry::featureGroupId() const {
    return kVatFeatureGroupId;
}

std::string VatFilesScanInquiry::featureGroupName() const {
    return kVatFeatureGroupName;
}

std::int32_t VatFilesScanInquiry::backendKind() const {
    return 0;
}

std::int32_t VatFilesScanInquiry::flowKind() const {
    return 7;
}

std::string VatFilesScanInquiry::category() const {
    return "Декларации";
}

std::string VatFilesScanInquiry::description() const {
    return "Рекурсивно сканира папка за DEKLAR.TXT / POKUPKI.TXT / PRODAGBI.TXT и филтрира по период.";
}

operations::ResultSchema VatFilesScanInquiry::resultSchema() const {
    return filesScanResultSchema();
}

std::vector<operations::ParamSpec> VatFilesScanInquiry::params() const {
    return folderScanParams();
}

operations::InquiryResult VatFilesScanInquiry::run(infra::portal::NapSession* /*session*/,
                                                   const operations::ParamMap& /*params*/) const {
    return notImplementedInquiry();
}

}  // namespace velk::core::features::vat
