#pragma once

#include <memory>
#include <string>

#include "features/common/SubmissionResultInquiry.h"

namespace velk::core::features::odit {

// Reads the agency's result of a filing made with OditFileDeclaration.
class OditResultInquiry : public operations::SubmissionResultInquiry {
public:
    std::string typeId() const override;
    std::string displayName() const override;
    std::int32_t backendKind() const override;
    std::int32_t flowKind() const override;
    std::string description() const override;
    // Looks the document up in the listing of submitted audit files, over
    // every period, and returns its row as JSON.
    operations::InquiryResult run(infra::portal::NapSession* session,
                                  const operations::ParamMap& params) const override;
    std::string serviceName() const override;
    std::string reportLinkName() const override;
    std::string plsModule() const override;
    std::unique_ptr<operations::ISubmission> pairedSubmission() const override;
};

}  // namespace velk::core::features::odit
