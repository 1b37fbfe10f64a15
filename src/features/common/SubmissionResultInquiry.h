#pragma once

#include <memory>
#include <string>
#include <vector>

#include "operations/IInquiry.h"
#include "operations/IPortalHandler.h"
#include "operations/ISubmission.h"

namespace velk::core::operations {

// Base of the inquiries that read the agency's result of a filing. Each one is
// paired with its declaration, whose feature group it shares.
class SubmissionResultInquiry : public IInquiry, public IPortalHandler {
public:
    std::string featureGroupId() const override;
    std::string featureGroupName() const override;
    ResultSchema resultSchema() const override;
    std::vector<ParamSpec> params() const override;
    InquiryResult run(infra::portal::NapSession* session, const ParamMap& params) const override;

    // A new instance of the declaration whose results this inquiry reads.
    virtual std::unique_ptr<ISubmission> pairedSubmission() const = 0;
};

}  // namespace velk::core::operations
