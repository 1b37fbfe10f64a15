#include "features/common/FolderScan.h"

#include <utility>

#include "operations/SchemaFields.h"

namespace velk::core::features {

using operations::FieldType;
using operations::ParamSpec;
using operations::ParamType;
using operations::schemaField;

std::vector<ParamSpec> folderScanParams() {
    return {
        {"rootFolder", "Папка", ParamType::String, true, {}, {}, "Папка за рекурсивно сканиране."},
        {"year", "Година", ParamType::Integer, true, {}, {}, ""},
        {"month", "Месец", ParamType::Integer, true, {}, {}, "1-12"},
        {"recursive", "Рекурсивно", ParamType::Boolean, false, "true", {}, ""},
    };
}

operations::ResultSchema formFilesScanResultSchema(std::string schemaName, std::string itemSchema,
                                                   std::string filesDescription) {
    return {
        std::move(schemaName),
        {
            operations::rowsField(
                "files", "Файлове", std::move(filesDescription), std::move(itemSchema),
                {
                    schemaField("name", "Име", FieldType::String, false, "Име на файла."),
                    schemaField("path", "Път", FieldType::String, false, "Пълен път (UTF-8)."),
                    schemaField("tin", "БУЛСТАТ", FieldType::String, false, "БУЛСТАТ от декларацията."),
                    schemaField("content", "Съдържание", FieldType::String, false, "UTF-8 съдържание."),
                }),
            schemaField("totalScanned", "Общо сканирани", FieldType::Integer, false,
                        "Брой .TXT файлове проверени."),
            schemaField("totalMatched", "Съответстващи", FieldType::Integer, false,
                        "Брой файлове в зададения период."),
            operations::enumField("status", "Статус", "ok при успех; error при проблем.", {"ok", "error"}),
            schemaField("error", "Грешка", FieldType::String, true, "Текст на грешката когато status=error."),
        }};
}

}  // namespace velk::core::features
