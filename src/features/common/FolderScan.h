#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "operations/OperationRecords.h"
#include "operations/ResultSchema.h"

namespace velk::core::features {

// rootFolder, year, month, recursive: the parameters of the three folder scans.
std::vector<operations::ParamSpec> folderScanParams();

// Result schema of the form 1 and form 6 scans, which differ only in their
// names and in the description of the files found.
operations::ResultSchema formFilesScanResultSchema(std::string schemaName, std::string itemSchema,
                                                   std::string filesDescription);

// The whole file read as windows-1251 and given as UTF-8; the empty text when
// it is no regular file or cannot be read, nothing when it is larger than
// what is read whole (platform::kMaxWholeFileBytes).
std::optional<std::string> readCp1251FileAsUtf8(const std::filesystem::path& path);

// Whether the file name's extension is exactly ".TXT" or ".txt", compared
// byte for byte (".Txt" is not); a name whose only dot leads has none.
bool hasTxtExtension(const std::filesystem::path& path);

// Writes totalScanned, totalMatched and status, and error when not empty,
// and returns a copy of the result.
operations::InquiryResult finishScanResult(operations::InquiryResult& result, std::int64_t scanned,
                                           std::int64_t matched, const std::string& status,
                                           const std::string& error);

}  // namespace velk::core::features
