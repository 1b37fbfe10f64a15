#include "features/dec16/Dec16ResultInquiry.h"

#include "features/common/RestResultDescription.h"
#include "features/dec16/Dec16Declaration.h"
#include "infrastructure/portal/RestResultInquiry.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::dec16 {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<Dec16ResultInquiry>();

}  // namespace

std::string Dec16ResultInquiry::typeId() const {
    return "dec1_6_result";
}

std::string Dec16ResultInquiry::displayName() const {
    return "Декларации обр. 1 и 6 — резултат";
}

std::int32_t Dec16ResultInquiry::backendKind() const {
    return 2;
}

std::int32_t Dec16ResultInquiry::flowKind() const {
    return 4;
}

std::string Dec16ResultInquiry::description() const {
    return restResultDescription("Изтегля HTML резултата за подадена декларация обр. 1 и 6 от ");
}

operations::InquiryResult Dec16ResultInquiry::run(infra::portal::NapSession* session,
                                                  const operations::ParamMap& params) const {
    return infra::portal::RestResultInquiry::run(*session, params);
}

std::unique_ptr<operations::ISubmission> Dec16ResultInquiry::pairedSubmission() const {
    return std::make_unique<Dec16Declaration>();
}

}  // namespace velk::core::features::dec16
