#include "features/vat/VatFilesInquiry.h"

#include <exception>

#include "common/JsonUtils.h"
#include "common/Logger.h"
#include "common/TextUtils.h"
#include "features/common/FolderWalk.h"
#include "features/vat/VatFeatureGroup.h"
#include "features/vat/VatTextFiles.h"
#include "operations/InquiryResultSchemas.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::vat {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<VatFilesInquiry>();

constexpr const char* kNoCount = "—";

// One summary row: whether the bundle holds the file and how many records.
std::vector<std::string> summaryRow(const json& bundle, const char* fileName, const char* key,
                                    bool withCount) {
    const auto it = bundle.find(key);
    const bool found = it != bundle.end() && !it->is_null();
    std::string count = kNoCount;
    if (found && withCount && it->is_array()) {
        count = std::to_string(it->size());
    } else if (found && !withCount && it->is_object() && !it->empty()) {
        count = "1";
    }
    return {fileName, found ? "ok" : "липсва", count};
}

// The bundle's errors joined with "; "; empty when there are none.
std::string joinedErrors(const json& bundle) {
    std::string joined;
    const auto it = bundle.find("errors");
    if (it == bundle.end() || !it->is_array()) {
        return joined;
    }
    for (const json& error : *it) {
        if (!joined.empty()) {
            joined += "; ";
        }
        joined += error.is_string() ? error.get<std::string>() : error.dump();
    }
    return joined;
}

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
                                               const operations::ParamMap& params) const {
    operations::InquiryResult result;
    result.columns = {{"file", "Файл"}, {"status", "Статус"}, {"count", "Записи"}};
    const std::string directory = operations::paramOr(params, "directory", "");
    if (directory.empty()) {
        return operations::errorResult(result, "directory е задължителен");
    }
    logLine(LogLevel::Info, "VatFilesInquiry: parsing " + loggableText(directory));
    try {
        const json bundle = parseVatFolder(directory);
        result.rawBody = bundle.dump(2, ' ', false, json::error_handler_t::replace);
        result.rawBodyContentType = "application/json; charset=utf-8";
        result.rows.push_back(summaryRow(bundle, "DEKLAR.TXT", "declaration", false));
        result.rows.push_back(summaryRow(bundle, "POKUPKI.TXT", "purchases", true));
        result.rows.push_back(summaryRow(bundle, "PRODAGBI.TXT", "sales", true));
        const std::string errors = joinedErrors(bundle);
        result.metadata["status"] = errors.empty() ? "ok" : "partial";
        if (!errors.empty()) {
            result.metadata["error"] = errors;
        }
    } catch (const std::exception& e) {
        // Out of memory on a huge folder: reported, not thrown at the engine.
        const std::string text = toValidUtf8(e.what());
        logLine(LogLevel::Error, "VatFilesInquiry: parse failed: " + escapeControlBytes(text));
        result.rows.clear();
        result.rawBody.clear();
        result.rawBodyContentType.clear();
        operations::errorResult(result, text);
    }
    result.metadata["directory"] = toValidUtf8(directory);
    return result;
}

}  // namespace velk::core::features::vat
