#include "features/dec731/Dec731ResultInquiry.h"

#include "features/dec731/Dec731Declaration.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::dec731 {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<Dec731ResultInquiry>();

}  // namespace

std::string Dec731ResultInquiry::typeId() const {
    return "dec731_result";
}

std::string Dec731ResultInquiry::displayName() const {
    return "Справка чл. 73, ал. 1 ЗДДФЛ — резултат";
}

std::int32_t Dec731ResultInquiry::backendKind() const {
    return 1;
}

std::int32_t Dec731ResultInquiry::flowKind() const {
    return 3;
}

std::string Dec731ResultInquiry::description() const {
    return "Изтегля HTML на резултатната страница (showResult?pid=...) за подадена справка по чл. 73, ал. 1 "
           "ЗДДФЛ по documentId.";
}

std::string Dec731ResultInquiry::serviceName() const {
    return "info-income-dif-73";
}

std::string Dec731ResultInquiry::reportLinkName() const {
    return "info-income-dif-73-1";
}

std::string Dec731ResultInquiry::plsModule() const {
    return "DEC2009.IPUBXSD_VAL_DEC";
}

std::unique_ptr<operations::ISubmission> Dec731ResultInquiry::pairedSubmission() const {
    return std::make_unique<Dec731Declaration>();
}

}  // namespace velk::core::features::dec731
