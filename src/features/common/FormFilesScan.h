#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "features/common/FormFileHeaders.h"
#include "operations/OperationRecords.h"

namespace velk::core::features {

// The folder scan of the form 1 and form 6 inquiries: every .TXT or .txt
// regular file below rootFolder (only its own entries when recursive is
// "false") whose first line passes the form's header reader with the asked
// year and month becomes a row (name, path, tin, content as UTF-8). Folders
// without access are skipped; a walk that ends on a file-system error gives
// status "error" with the rows found so far. Names that are not UTF-8 are
// skipped with a warning: a later operation could not open them again from
// the text a result carries.
class FormFilesScan {
public:
    using HeaderReader = std::optional<Dec16FileHeader> (*)(const std::filesystem::path&);

    // className starts the INFO line of the scan's start, logPrefix ("Dec6")
    // every other line.
    FormFilesScan(std::string className, std::string logPrefix, HeaderReader reader);

    operations::InquiryResult run(const operations::ParamMap& params) const;

private:
    std::string className_;
    std::string logPrefix_;
    HeaderReader reader_;
};

}  // namespace velk::core::features
