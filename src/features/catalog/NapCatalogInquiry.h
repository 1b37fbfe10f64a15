#pragma once

#include <string>
#include <vector>

#include "common/PortalRecords.h"
#include "operations/IInquiry.h"

namespace velk::core::features::catalog {

// The link's "url" property (a PLS page), or the empty text.
std::string linkPropertyUrl(const ServiceLink& link);

// The portal's catalogue of categories, services and links, laid out flat.
class NapCatalogInquiry : public operations::IInquiry {
public:
    std::string typeId() const override;
    std::string displayName() const override;
    std::string featureGroupId() const override;
    std::string featureGroupName() const override;
    std::int32_t backendKind() const override;
    std::int32_t flowKind() const override;
    std::string description() const override;
    bool requiresSubmissionToken() const override;
    operations::ResultSchema resultSchema() const override;
    std::vector<operations::ParamSpec> params() const override;
    operations::InquiryResult run(infra::portal::NapSession* session,
                                  const operations::ParamMap& params) const override;
};

}  // namespace velk::core::features::catalog
