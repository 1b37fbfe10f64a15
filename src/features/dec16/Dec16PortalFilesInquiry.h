#pragma once

#include <string>
#include <vector>

#include "operations/IInquiry.h"
#include "operations/IPortalHandler.h"

namespace velk::core::features::dec16 {

// The signed form 1 and form 6 files a taxpayer filed for one month, fetched back from the portal.
class Dec16PortalFilesInquiry : public operations::IInquiry, public operations::IPortalHandler {
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
    operations::InquiryResult run(infra::portal::NapSession* session,
                                  const operations::ParamMap& params) const override;
    std::string serviceName() const override;
    std::string reportLinkName() const override;
};

}  // namespace velk::core::features::dec16
