#include "features/dec736/Dec736ResultInquiry.h"

#include "features/dec736/Dec736Declaration.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::dec736 {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<Dec736ResultInquiry>();

}  // namespace

std::string Dec736ResultInquiry::typeId() const {
    return "dec736_result";
}

std::string Dec736ResultInquiry::displayName() const {
    return "Справка чл. 73, ал. 6 ЗДДФЛ — резултат";
}

std::int32_t Dec736ResultInquiry::backendKind() const {
    return 1;
}

std::int32_t Dec736ResultInquiry::flowKind() const {
    return 3;
}

std::string Dec736ResultInquiry::description() const {
    return "Изтегля HTML на резултатната страница (showResult?pid=...) за подадена справка по чл. 73, ал. 6 "
           "ЗДДФЛ по documentId.";
}

std::string Dec736ResultInquiry::serviceName() const {
    return "info-income-dif-73-6";
}

std::string Dec736ResultInquiry::reportLinkName() const {
    return "info-income-dif-73-6-1";
}

std::string Dec736ResultInquiry::plsModule() const {
    return "DEC2009.IPUBXSD_VAL_DEC";
}

std::unique_ptr<operations::ISubmission> Dec736ResultInquiry::pairedSubmission() const {
    return std::make_unique<Dec736Declaration>();
}

}  // namespace velk::core::features::dec736
