#include "features/vat/VatFilesScanInquiry.h"

#include <exception>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "features/common/FolderScan.h"
#include "features/common/FolderWalk.h"
#include "features/common/InputChecks.h"
#include "features/vat/DeklarHeader.h"
#include "features/vat/VatFeatureGroup.h"
#include "operations/OperationRegistry.h"
#include "operations/SchemaFields.h"

namespace velk::core::features::vat {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<VatFilesScanInquiry>();

namespace fs = std::filesystem;

using operations::FieldType;
using operations::InquiryResult;
using operations::schemaField;

// What one scan gathers while it walks.
struct VatScanState {
    std::int32_t year = 0;
    std::int32_t month = 0;
    InquiryResult& result;
    std::int64_t scanned = 0;
    std::int64_t matched = 0;
    // Why a matching folder could not be listed whole; the scan is then
    // incomplete.
    std::string listingError;
    // The first file of a matching folder too large to be returned.
    std::string fileError;

    // The folder's DEKLAR.TXT: the exact names first, then any ASCII case
    // with the extension ".TXT" or ".txt". Empty when there is none.
    static fs::path findDeklar(const fs::path& folder) {
        std::error_code ec;
        for (const char* name : {"DEKLAR.TXT", "deklar.txt"}) {
            // Any kind of entry counts, as on a file system without case.
            if (fs::exists(fs::symlink_status(folder / name, ec))) {
                return folder / name;
            }
        }
        fs::directory_iterator it(folder, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            const fs::path& path = it->path();
            if (asciiUpper(path.filename().string()) == "DEKLAR.TXT" && hasTxtExtension(path)) {
                return path;
            }
        }
        return {};
    }

    static bool isTakenFile(const fs::directory_entry& entry) {
        std::error_code ec;
        if (!fs::is_regular_file(entry.status(ec)) || !hasTxtExtension(entry.path())) {
            return false;
        }
        const std::string upper = asciiUpper(entry.path().filename().string());
        return upper == "DEKLAR.TXT" || upper == "POKUPKI.TXT" || upper == "PRODAGBI.TXT";
    }

    void visit(const fs::path& folder) {
        const fs::path deklar = findDeklar(folder);
        if (deklar.empty()) {
            return;
        }
        ++scanned;
        DeklarHeader header;
        try {
            header = readDeklarHeader(deklar);
        } catch (const std::exception& e) {
            logLine(LogLevel::Warn, "Vat: extract failed for " + loggableText(deklar.string()) + ": " +
                                        loggableText(e.what()));
            return;
        }
        if (!header.ok || header.year != year || header.month != month) {
            return;
        }
        ++matched;
        const std::string folderText = folder.string();
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            const fs::path& path = it->path();
            if (!isTakenFile(*it)) {
                continue;
            }
            if (!isValidUtf8(path.filename().string())) {
                logLine(LogLevel::Warn,
                        "Vat: skipped a name that is not UTF-8: " + loggableText(path.string()));
                continue;
            }
            std::optional<std::string> content = readCp1251FileAsUtf8(path);
            if (!content) {
                const std::string error = tooLargeFileMessage(path.string());
                logLine(LogLevel::Warn, "Vat: " + loggableText(error));
                if (fileError.empty()) {
                    fileError = error;
                }
                continue;
            }
            result.rows.push_back(
                {path.filename().string(), path.string(), header.bulstat, folderText, std::move(*content)});
        }
        if (ec && listingError.empty()) {
            listingError = toValidUtf8(fs::filesystem_error("cannot list directory", folder, ec).what());
        }
    }

    // One entry of the recursive walk: folders are visited when the walk
    // reaches them. False for a folder whose name is not UTF-8, which a
    // result could not name.
    bool onEntry(const fs::directory_entry& entry) {
        std::error_code ec;
        if (!fs::is_directory(entry.status(ec))) {
            return true;
        }
        if (!isValidUtf8(entry.path().filename().string())) {
            logLine(LogLevel::Warn,
                    "Vat: skipped a name that is not UTF-8: " + loggableText(entry.path().string()));
            return false;
        }
        visit(entry.path());
        return true;
    }
};

operations::ResultSchema filesScanResultSchema() {
    return {
        "VatFilesScanResult",
        operations::fieldList(
            operations::rowsField(
                "files", "Файлове", "Открити ДДС файлове (DEKLAR/POKUPKI/PRODAGBI) за периода.",
                "VatFileItem",
                operations::fieldList(
                    schemaField("name", "Име", FieldType::String, false, "Име на файла."),
                    schemaField("path", "Път", FieldType::String, false, "Пълен път (UTF-8)."),
                    schemaField("tin", "БУЛСТАТ", FieldType::String, false, "БУЛСТАТ от DEKLAR.TXT."),
                    schemaField("folder", "Папка", FieldType::String, false, "Родителската папка."),
                    schemaField("content", "Съдържание", FieldType::String, false, "UTF-8 съдържание."))),
            schemaField("totalScanned", "Общо сканирани", FieldType::Integer, false,
                        "Брой DEKLAR.TXT прегледани."),
            schemaField("totalMatched", "Съответстващи", FieldType::Integer, false,
                        "Брой бъндли в зададения период."),
            operations::enumField("status", "Статус", "ok при успех; error при проблем.", {"ok", "error"}),
            schemaField("error", "Грешка", FieldType::String, true,
                        "Текст на грешката когато status=error."))};
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
                                                   const operations::ParamMap& params) const {
    InquiryResult result;
    result.columns = {
        {"name", "Име"}, {"path", "Път"}, {"tin", "БУЛСТАТ"}, {"folder", "Папка"}, {"content", "Съдържание"}};

    const std::string rootFolder = operations::paramOr(params, "rootFolder", "");
    const std::int32_t year = parseInt32(operations::paramOr(params, "year", "0")).value_or(0);
    const std::int32_t month = parseInt32(operations::paramOr(params, "month", "0")).value_or(0);
    const bool recursive = operations::paramOr(params, "recursive", "true") != "false";
    if (rootFolder.empty() || year == 0 || month == 0) {
        return finishScanResult(result, 0, 0, "error", "rootFolder, year, month са задължителни");
    }

    VatScanState state{year, month, result, 0, 0, {}, {}};
    try {
        const fs::path root(rootFolder);
        // A root whose status cannot be read is reported, not thrown at the engine.
        if (!fs::is_directory(fs::status(root))) {
            return finishScanResult(result, 0, 0, "error",
                                    "Папката не съществува: " + toValidUtf8(rootFolder));
        }
        logLine(LogLevel::Info, "VatFilesScanInquiry: scanning " + loggableText(rootFolder) + " for " +
                                    std::to_string(month) + "/" + std::to_string(year) +
                                    " (recursive=" + (recursive ? "true" : "false") + ")");
        std::string walkError;
        if (recursive) {
            walkError = walkFolder(
                root, true, [&state](const fs::directory_entry& entry) { return state.onEntry(entry); });
            if (!walkError.empty()) {
                logLine(LogLevel::Warn, "Vat: iter error: " + walkError);
            }
        }
        // The root last, after everything below it, even when the walk
        // stopped early.
        state.visit(root);
        if (!state.listingError.empty()) {
            logLine(LogLevel::Warn, "Vat: iter error: " + escapeControlBytes(state.listingError));
        }
        // A walk that stopped early has not seen every folder: what was found
        // stays, but the scan is not reported as complete; nor is one that
        // left out a file too large to return.
        for (const std::string* error : {&walkError, &state.listingError, &state.fileError}) {
            if (!error->empty()) {
                return finishScanResult(result, state.scanned, state.matched, "error", *error);
            }
        }
    } catch (const std::exception& e) {
        const std::string text = toValidUtf8(e.what());
        logLine(LogLevel::Error, "Vat: scan error: " + escapeControlBytes(text));
        return finishScanResult(result, state.scanned, state.matched, "error", text);
    }
    logLine(LogLevel::Info, "Vat: scanned " + std::to_string(state.scanned) + ", matched bundles " +
                                std::to_string(state.matched) + ", total files " +
                                std::to_string(result.rows.size()));
    return finishScanResult(result, state.scanned, state.matched, "ok", "");
}

}  // namespace velk::core::features::vat
