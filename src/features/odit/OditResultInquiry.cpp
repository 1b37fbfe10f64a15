#include "features/odit/OditResultInquiry.h"

#include "features/odit/OditFileDeclaration.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::odit {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<OditResultInquiry>();

}  // namespace

std::string OditResultInquiry::typeId() const {
    return "odit_result";
}

std::string OditResultInquiry::displayName() const {
    return "Одиторски файл чл. 3, ал. 17 Н-18 — резултат";
}

std::int32_t OditResultInquiry::backendKind() const {
    return 1;
}

std::int32_t OditResultInquiry::flowKind() const {
    return 3;
}

std::string OditResultInquiry::description() const {
    return "Връща JSON с информацията за подаден одиторски файл по documentId, извлечена от листинга на "
           "портала.";
}

std::string OditResultInquiry::serviceName() const {
    return "odit-317";
}

std::string OditResultInquiry::reportLinkName() const {
    return "odit-317-1";
}

std::string OditResultInquiry::plsModule() const {
    return "DEC2009.IPUBXMLDEC";
}

std::unique_ptr<operations::ISubmission> OditResultInquiry::pairedSubmission() const {
    return std::make_unique<OditFileDeclaration>();
}

}  // namespace velk::core::features::odit
