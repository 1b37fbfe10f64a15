#include "features/etz123/Etz123ResultInquiry.h"

#include "features/common/RestResultDescription.h"
#include "features/etz123/Etz123Declaration.h"
#include "infrastructure/portal/RestResultInquiry.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::etz123 {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<Etz123ResultInquiry>();

}  // namespace

std::string Etz123ResultInquiry::typeId() const {
    return "etz123_result";
}

std::string Etz123ResultInquiry::displayName() const {
    return "Уведомление чл. 123 КТ — резултат";
}

std::int32_t Etz123ResultInquiry::backendKind() const {
    return 2;
}

std::int32_t Etz123ResultInquiry::flowKind() const {
    return 4;
}

std::string Etz123ResultInquiry::description() const {
    return restResultDescription("Изтегля HTML резултата за подадено уведомление чл. 123 КТ от ");
}

operations::InquiryResult Etz123ResultInquiry::run(infra::portal::NapSession* session,
                                                   const operations::ParamMap& params) const {
    return infra::portal::RestResultInquiry::run(*session, params);
}

std::unique_ptr<operations::ISubmission> Etz123ResultInquiry::pairedSubmission() const {
    return std::make_unique<Etz123Declaration>();
}

}  // namespace velk::core::features::etz123
