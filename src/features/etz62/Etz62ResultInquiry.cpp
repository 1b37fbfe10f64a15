#include "features/etz62/Etz62ResultInquiry.h"

#include "features/common/RestResultDescription.h"
#include "features/etz62/Etz62Declaration.h"
#include "infrastructure/portal/RestResultInquiry.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::etz62 {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<Etz62ResultInquiry>();

}  // namespace

std::string Etz62ResultInquiry::typeId() const {
    return "etz62_result";
}

std::string Etz62ResultInquiry::displayName() const {
    return "Уведомление чл. 62 КТ — резултат";
}

std::int32_t Etz62ResultInquiry::backendKind() const {
    return 2;
}

std::int32_t Etz62ResultInquiry::flowKind() const {
    return 4;
}

std::string Etz62ResultInquiry::description() const {
    return restResultDescription("Изтегля HTML резултата за подадено уведомление чл. 62 КТ от ");
}

operations::InquiryResult Etz62ResultInquiry::run(infra::portal::NapSession* session,
                                                  const operations::ParamMap& params) const {
    return infra::portal::RestResultInquiry::run(*session, params);
}

std::unique_ptr<operations::ISubmission> Etz62ResultInquiry::pairedSubmission() const {
    return std::make_unique<Etz62Declaration>();
}

}  // namespace velk::core::features::etz62
