#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "operations/IPortalHandler.h"
#include "operations/ISubmission.h"

namespace velk::core::features::odit {

// The standardised audit file (art. 3, para. 17 of Ordinance Н-18), filed as a PLS upload.
class OditFileDeclaration : public operations::ISubmission, public operations::IPortalHandler {
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
    std::vector<operations::FormField> extraFormFields(std::optional<std::int32_t> month,
                                                       const std::string& iban) const override;
    std::string showResultUrl(const std::string& pid, const ServiceLink& link) const override;
    operations::InquiryResult fetchResults(infra::portal::NapSession* session,
                                           const operations::ResultsQuery& query) const override;
    bool reservedFlagB() const override;
    std::string serviceName() const override;
    std::string submitLinkName() const override;
    std::string reportLinkName() const override;
    std::string plsModule() const override;
};

}  // namespace velk::core::features::odit
