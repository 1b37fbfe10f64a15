#pragma once

#include <string>

#include "operations/OperationRecords.h"

namespace velk::core::features {

// ok only for an existing regular file; every other case, file-system errors
// included, gives "Файлът не съществува: " and the path.
operations::InputCheck requireRegularFile(const std::string& path);

// ok for anything that exists (a folder too). A file-system error other than
// "not found" is thrown as std::filesystem::filesystem_error.
operations::InputCheck requireExistingPath(const std::string& path);

// The message for a file larger than what is read whole
// (platform::kMaxWholeFileBytes).
std::string tooLargeFileMessage(const std::string& path);

}  // namespace velk::core::features
