#pragma once

#include <string>
#include <vector>

#include "operations/IPortalHandler.h"
#include "operations/ISubmission.h"

namespace velk::core::features::dec731 {

// The income statement under art. 73, para. 1 ЗДДФЛ, filed as a PLS upload.
class Dec731Declaration : public operations::ISubmission, public operations::IPortalHandler {
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
    std::string listDocumentsUrl(const ServiceLink& link) const override;
    operations::InquiryResult fetchResults(infra::portal::NapSession* session,
                                           const operations::ResultsQuery& query) const override;
    std::string serviceName() const override;
    std::string submitLinkName() const override;
    std::string reportLinkName() const override;
    std::string plsModule() const override;
};

}  // namespace velk::core::features::dec731
