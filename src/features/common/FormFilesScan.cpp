#include "features/common/FormFilesScan.h"

#include <exception>
#include <optional>
#include <utility>

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "features/common/FolderScan.h"
#include "features/common/FolderWalk.h"
#include "features/common/InputChecks.h"

namespace velk::core::features {

namespace fs = std::filesystem;

namespace {

using operations::InquiryResult;
using operations::ParamMap;

// What one scan gathers while it walks.
struct ScanState {
    const std::string& logPrefix;
    FormFilesScan::HeaderReader reader;
    std::int32_t year = 0;
    std::int32_t month = 0;
    InquiryResult& result;
    std::int64_t scanned = 0;
    std::int64_t matched = 0;
    // The first matching file too large to be returned: the scan goes on,
    // but its answer lacks that file.
    std::string fileError;

    void noteTooLarge(const std::string& pathText) {
        const std::string error = tooLargeFileMessage(pathText);
        logLine(LogLevel::Warn, logPrefix + ": " + loggableText(error));
        if (fileError.empty()) {
            fileError = error;
        }
    }

    void skipNotUtf8(const fs::path& path) const {
        logLine(LogLevel::Warn,
                logPrefix + ": skipped a name that is not UTF-8: " + loggableText(path.string()));
    }

    // One entry of the walk. False for a folder with a name that is not
    // UTF-8, which the walk must not enter.
    bool visit(const fs::directory_entry& entry) {
        std::error_code ec;
        const fs::file_status status = entry.status(ec);
        if (ec) {
            return true;
        }
        const fs::path& path = entry.path();
        if (fs::is_directory(status)) {
            if (!isValidUtf8(path.filename().string())) {
                skipNotUtf8(path);
                return false;
            }
            return true;
        }
        if (!fs::is_regular_file(status) || !hasTxtExtension(path)) {
            return true;
        }
        const std::string pathText = path.string();
        if (!isValidUtf8(pathText)) {
            skipNotUtf8(path);
            return true;
        }
        ++scanned;
        std::optional<Dec16FileHeader> header;
        try {
            header = reader(path);
        } catch (const std::exception& e) {
            logLine(LogLevel::Warn, logPrefix + ": extract failed for " + loggableText(pathText) + ": " +
                                        loggableText(e.what()));
            return true;
        }
        if (header && header->year == year && header->month == month) {
            ++matched;
            std::optional<std::string> content = readCp1251FileAsUtf8(path);
            if (!content) {
                noteTooLarge(pathText);
                return true;
            }
            result.rows.push_back({path.filename().string(), pathText, header->eik, std::move(*content)});
        }
        return true;
    }
};

}  // namespace

FormFilesScan::FormFilesScan(std::string className, std::string logPrefix, HeaderReader reader)
    : className_(std::move(className)), logPrefix_(std::move(logPrefix)), reader_(reader) {}

InquiryResult FormFilesScan::run(const ParamMap& params) const {
    InquiryResult result;
    result.columns = {{"name", "Име"}, {"path", "Път"}, {"tin", "БУЛСТАТ"}, {"content", "Съдържание"}};

    const std::string rootFolder = operations::paramOr(params, "rootFolder", "");
    const std::int32_t year = parseInt32(operations::paramOr(params, "year", "0")).value_or(0);
    const std::int32_t month = parseInt32(operations::paramOr(params, "month", "0")).value_or(0);
    const bool recursive = operations::paramOr(params, "recursive", "true") != "false";
    if (rootFolder.empty() || year == 0 || month == 0) {
        return finishScanResult(result, 0, 0, "error", "rootFolder, year, month са задължителни");
    }

    ScanState state{logPrefix_, reader_, year, month, result, 0, 0, {}};
    try {
        const fs::path root(rootFolder);
        // A root whose status cannot be read is reported like a failed walk
        // below, not thrown at the engine.
        if (!fs::is_directory(fs::status(root))) {
            return finishScanResult(result, 0, 0, "error",
                                    "Папката не съществува: " + toValidUtf8(rootFolder));
        }
        logLine(LogLevel::Info, className_ + ": scanning " + loggableText(rootFolder) + " for " +
                                    std::to_string(month) + "/" + std::to_string(year) +
                                    " (recursive=" + (recursive ? "true" : "false") + ")");
        const std::string walkError = walkFolder(
            root, recursive, [&state](const fs::directory_entry& entry) { return state.visit(entry); });
        if (!walkError.empty()) {
            logLine(LogLevel::Warn, logPrefix_ + ": iter error: " + walkError);
            return finishScanResult(result, state.scanned, state.matched, "error", walkError);
        }
        if (!state.fileError.empty()) {
            return finishScanResult(result, state.scanned, state.matched, "error", state.fileError);
        }
    } catch (const std::exception& e) {
        const std::string text = toValidUtf8(e.what());
        logLine(LogLevel::Error, logPrefix_ + ": scan error: " + escapeControlBytes(text));
        return finishScanResult(result, state.scanned, state.matched, "error", text);
    }
    logLine(LogLevel::Info, logPrefix_ + ": scanned " + std::to_string(state.scanned) + ", matched " +
                                std::to_string(state.matched));
    return finishScanResult(result, state.scanned, state.matched, "ok", "");
}

}  // namespace velk::core::features
