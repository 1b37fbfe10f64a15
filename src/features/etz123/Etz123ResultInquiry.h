#pragma once

#include <memory>
#include <string>

#include "features/common/SubmissionResultInquiry.h"

namespace velk::core::features::etz123 {

// Reads the agency's result of a filing made with Etz123Declaration.
class Etz123ResultInquiry : public operations::SubmissionResultInquiry {
public:
    std::string typeId() const override;
    std::string displayName() const override;
    std::int32_t backendKind() const override;
    std::int32_t flowKind() const override;
    std::string description() const override;
    // The REST API's receipt for the document.
    operations::InquiryResult run(infra::portal::NapSession* session,
                                  const operations::ParamMap& params) const override;
    std::unique_ptr<operations::ISubmission> pairedSubmission() const override;
};

}  // namespace velk::core::features::etz123
