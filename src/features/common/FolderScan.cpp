#include "features/common/FolderScan.h"

#include <utility>

#include "common/TextUtils.h"
#include "platform/RegularFile.h"

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
        operations::fieldList(
            operations::rowsField(
                "files", "Файлове", std::move(filesDescription), std::move(itemSchema),
                operations::fieldList(
                    schemaField("name", "Име", FieldType::String, false, "Име на файла."),
                    schemaField("path", "Път", FieldType::String, false, "Пълен път (UTF-8)."),
                    schemaField("tin", "БУЛСТАТ", FieldType::String, false, "БУЛСТАТ от декларацията."),
                    schemaField("content", "Съдържание", FieldType::String, false, "UTF-8 съдържание."))),
            schemaField("totalScanned", "Общо сканирани", FieldType::Integer, false,
                        "Брой .TXT файлове проверени."),
            schemaField("totalMatched", "Съответстващи", FieldType::Integer, false,
                        "Брой файлове в зададения период."),
            operations::enumField("status", "Статус", "ok при успех; error при проблем.", {"ok", "error"}),
            schemaField("error", "Грешка", FieldType::String, true,
                        "Текст на грешката когато status=error."))};
}

std::optional<std::string> readCp1251FileAsUtf8(const std::filesystem::path& path) {
    std::string bytes;
    switch (platform::readWholeRegularFile(path, bytes)) {
        case platform::WholeFileStatus::Read:
            return cp1251ToUtf8(bytes);
        case platform::WholeFileStatus::TooLarge:
            return std::nullopt;
        case platform::WholeFileStatus::Unreadable:
            break;
    }
    return std::string();
}

bool hasTxtExtension(const std::filesystem::path& path) {
    const std::string extension = path.filename().extension().string();
    return extension == ".TXT" || extension == ".txt";
}

operations::InquiryResult finishScanResult(operations::InquiryResult& result, std::int64_t scanned,
                                           std::int64_t matched, const std::string& status,
                                           const std::string& error) {
    result.metadata["totalScanned"] = std::to_string(scanned);
    result.metadata["totalMatched"] = std::to_string(matched);
    result.metadata["status"] = status;
    if (!error.empty()) {
        result.metadata["error"] = error;
    }
    return result;
}

}  // namespace velk::core::features
