#include "features/taxpayers/TaxpayersInquiry.h"

#include "features/common/NotImplemented.h"
#include "operations/InquiryResultSchemas.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::taxpayers {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<TaxpayersInquiry>();

}  // namespace

std::string TaxpayersInquiry::typeId() const {
    return "taxpayers";
}

std::string TaxpayersInquiry::displayName() const {
    return "Задължени лица (достъпни с текущия сертификат)";
}

std::string TaxpayersInquiry::featureGroupId() const {
    return "taxpayers";
}

std::string TaxpayersInquiry::featureGroupName() const {
    return "Задължени лица";
}

std::int32_t TaxpayersInquiry::backendKind() const {
    return 1;
}

std::int32_t TaxpayersInquiry::flowKind() const {
    return 3;
}

std::string TaxpayersInquiry::description() const {
    return "Списък на ЗЛ-тата, за които влезлият потребител има пълномощно в НАП. Не приема параметри — "
           "показва всичко, върнато от `GET /api/base/taxpayers` след КЕП логин.";
}

bool TaxpayersInquiry::requiresSubmissionToken() const {
    return false;
}

operations::ResultSchema TaxpayersInquiry::resultSchema() const {
    return operations::taxpayersResultSchema();
}

std::vector<operations::ParamSpec> TaxpayersInquiry::params() const {
    return {};
}

operations::InquiryResult TaxpayersInquiry::run(infra::portal::NapSession* /*session*/,
                                                const operations::ParamMap& /*params*/) const {
    return notImplementedInquiry();
}

}  // namespace velk::core::features::taxpayers
