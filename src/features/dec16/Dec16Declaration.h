#pragma once

#include <string>
#include <vector>

#include "operations/IPortalHandler.h"
#include "operations/ISubmission.h"

namespace velk::core::features::dec16 {

// An employer's monthly forms 1 and 6, one or both files, filed through the REST API.
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
};

}  // namespace velk::core::features::dec16
