#pragma once

#include <string>
#include <vector>

#include "common/JsonUtils.h"
#include "operations/IInquiry.h"
#include "operations/IPortalHandler.h"

namespace velk::core::features::vat {

// Every VAT filing of one month on the portal, with its files parsed.
class VatMonthlyFilesInquiry : public operations::IInquiry, public operations::IPortalHandler {
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

// The summary cell of one file of a filing object: the record count of a
// journal, "1" for a parsed declaration, "!" for a failed download, "—" for a
// file not offered, a declaration without any line or anything else.
std::string fileSummaryCell(const json& filing, const std::string& key);

}  // namespace velk::core::features::vat
