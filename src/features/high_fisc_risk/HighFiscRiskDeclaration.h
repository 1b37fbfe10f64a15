#pragma once

#include <string>
#include <vector>

#include "operations/IPortalHandler.h"
#include "operations/ISubmission.h"

namespace velk::core::features::high_fisc_risk {

// The preliminary declaration of transports of high-fiscal-risk goods, filed through the REST API.
class HighFiscRiskDeclaration : public operations::ISubmission, public operations::IPortalHandler {
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
    operations::InputCheck validateInput(const std::string& path) const override;
    operations::SubmissionResult submit(infra::portal::NapSession* session, const std::string& filePath,
                                        const operations::ParamMap& params) const override;
    std::string documentTypeCode() const override;
};

// The file's DocumentType code for the "subtype" parameter, which must be one
// of the six names exactly; 0 for anything else.
std::int32_t highFiscRiskDocType(const std::string& subtype);

}  // namespace velk::core::features::high_fisc_risk
