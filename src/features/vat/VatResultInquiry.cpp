#include "features/vat/VatResultInquiry.h"

#include "common/AgencyEndpoints.h"
#include "features/vat/VatDeclaration.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::vat {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<VatResultInquiry>();

}  // namespace

std::string VatResultInquiry::typeId() const {
    return "vat_result";
}

std::string VatResultInquiry::displayName() const {
    return "ДДС — резултат от подадена декларация";
}

std::int32_t VatResultInquiry::backendKind() const {
    return 1;
}

std::int32_t VatResultInquiry::flowKind() const {
    return 3;
}

std::string VatResultInquiry::description() const {
    return "Изтегля HTML на резултатната страница от " + std::string(AgencyEndpoints::kPortalHost) +
           " по documentId на подадена ДДС декларация.";
}

std::string VatResultInquiry::serviceName() const {
    return "vat-report";
}

std::string VatResultInquiry::reportLinkName() const {
    return "vat-report-1";
}

std::string VatResultInquiry::plsModule() const {
    return "IVAT.PUB";
}

std::unique_ptr<operations::ISubmission> VatResultInquiry::pairedSubmission() const {
    return std::make_unique<VatDeclaration>();
}

}  // namespace velk::core::features::vat
