#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "operations/IPortalHandler.h"
#include "operations/ISubmission.h"

namespace velk::core::features::dec16 {

// One form 1 or form 6 file as loaded for filing.
struct Dec16FileInfo {
    std::string eik;
    std::int32_t year = 0;
    std::int32_t month = 0;
    std::int32_t records = 0;
    std::vector<std::uint8_t> content;  // the file's bytes, line ends untouched
};

// An employer's monthly forms 1 and 6, one or both files, filed through the
// REST API. Each file is read before anything is signed: the files must name
// one taxpayer, the one of the "eik" parameter when given, and the period of
// the "year" and "month" parameters.
class Dec16Declaration : public operations::ISubmission, public operations::IPortalHandler {
public:
    std::string typeId() const override;
    std::string displayName() const override;
    std::string featureGroupId() const override;
    std::string featureGroupName() const override;
    std::int32_t backendKind() const override;
    std::int32_t flowKind() const override;
    std::string description() const override;
    operations::ResultSchema resultSchema() const override;
    std::vector<operations::ParamSpec> params() const override;
    bool requiresFilePath() const override;
    operations::InputCheck validateInput(const std::string& path) const override;
    operations::SubmissionResult submit(infra::portal::NapSession* session, const std::string& filePath,
                                        const operations::ParamMap& params) const override;
    std::string documentTypeCode() const override;

    // False with the message when nothing is at the path, its first line is
    // not a header of the form, or it cannot be read. A file-system error
    // other than absence is thrown as std::filesystem::filesystem_error.
    static bool loadDec1File(const std::string& path, Dec16FileInfo& info, std::string& message);
    static bool loadDec6File(const std::string& path, Dec16FileInfo& info, std::string& message);
    // Empty when the file's period is that of "year" and "month", or when
    // they are absent or hold no number; else why not.
    static std::string checkDec16Period(const operations::ParamMap& params, const Dec16FileInfo& file);
};

}  // namespace velk::core::features::dec16
