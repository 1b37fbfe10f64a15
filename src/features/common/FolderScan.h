#pragma once

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

}  // namespace velk::core::features
