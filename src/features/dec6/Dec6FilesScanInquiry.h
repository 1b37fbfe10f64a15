#pragma once

#include <string>
#include <vector>

#include "operations/IInquiry.h"

namespace velk::core::features::dec6 {

// Form 6 files of one month found in a local folder tree.
class Dec6FilesScanInquiry : public operations::IInquiry {
public:
    std::string typeId() const override;
    std::string displayName() const override;
    std::string featureGroupId() const override;
    std::string featureGroupName() const override;
    std::int32_t backendKind() const override;
    std::int32_t flowKind() const override;
    std::string category() const override;
    std::string description() const override;
    operations::ResultSchema resultSchema() const override;
    std::vector<operations::ParamSpec> params() const override;
    operations::InquiryResult run(infra::portal::NapSession* session,
                                  const operations::ParamMap& params) const override;
};

}  // namespace velk::core::features::dec6
