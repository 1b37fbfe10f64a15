#include "features/vat/VatMonthlyFilesInquiry.h"

#include "features/common/CommonParams.h"
#include "features/common/NotImplemented.h"
#include "features/vat/VatFeatureGroup.h"
#include "operations/InquiryResultSchemas.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::vat {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<VatMonthlyFilesInquiry>();

}  // namespace

std::string VatMonthlyFilesInquiry::typeId() const {
    return "vat_monthly_files";
}

std::string VatMonthlyFilesInquiry::displayName() const {
    return "ДДС — подадени файлове за месец";
}

std::string VatMonthlyFilesInquiry::featureGroupId() const {
    return kVatFeatureGroupId;
}

std::string VatMonthlyFilesInquiry::featureGroupName() const {
    return kVatFeatureGroupName;
}

std::int32_t VatMonthlyFilesInquiry::backendKind() const {
    return 1;
}

std::int32_t VatMonthlyFilesInquiry::flowKind() const {
    return 3;
}

std::string VatMonthlyFilesInquiry::description() const {
    return "Изтегля всички подадени ДДС справки-декларации и дневници за избран месец и ги парсва в един "
           "JSON.";
}

operations::ResultSchema VatMonthlyFilesInquiry::resultSchema() const {
    return operations::vatMonthlyFilesResultSchema();
}

std::vector<operations::ParamSpec> VatMonthlyFilesInquiry::params() const {
    return taxpayerPeriodParams();
}

operations::InquiryResult VatMonthlyFilesInquiry::run(infra::portal::NapSession* /*session*/,
                                                      const operations::ParamMap& /*params*/) const {
    return notImplementedInquiry();
}

std::string VatMonthlyFilesInquiry::serviceName() const {
    return "vat-report";
}

std::string VatMonthlyFilesInquiry::reportLinkName() const {
    return "vat-report-1";
}

}  // namespace velk::core::features::vat
