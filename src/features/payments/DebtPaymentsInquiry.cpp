#include "features/payments/DebtPaymentsInquiry.h"

#include "features/common/CommonParams.h"
#include "features/common/NotImplemented.h"
#include "operations/InquiryResultSchemas.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::payments {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<DebtPaymentsInquiry>();

}  // namespace

std::string DebtPaymentsInquiry::typeId() const {
    return "debt_payments";
}

std::string DebtPaymentsInquiry::displayName() const {
    return "Справка за задължения и плащания";
}

std::string DebtPaymentsInquiry::featureGroupId() const {
    return "payments";
}

std::string DebtPaymentsInquiry::featureGroupName() const {
    return "Задължения и плащания";
}

std::int32_t DebtPaymentsInquiry::backendKind() const {
    return 1;
}

std::int32_t DebtPaymentsInquiry::flowKind() const {
    return 3;
}

std::string DebtPaymentsInquiry::description() const {
    return "Списък на задълженията и плащанията за избрано ЗЛ и година, филтрируем по вид задължение.";
}

operations::ResultSchema DebtPaymentsInquiry::resultSchema() const {
    return operations::debtPaymentsResultSchema();
}

std::vector<operations::ParamSpec> DebtPaymentsInquiry::params() const {
    return {
        eikParam(true),
        yearParam(true),
        {"type",
         "Вид",
         operations::ParamType::String,
         false,
         "0",
         {},
         "0 = всички видове; друго = id от debt_payments_types"},
    };
}

operations::InquiryResult DebtPaymentsInquiry::run(infra::portal::NapSession* /*session*/,
                                                   const operations::ParamMap& /*params*/) const {
    return notImplementedInquiry();
}

std::string DebtPaymentsInquiry::serviceName() const {
    return "dept-and-payments-report";
}

std::string DebtPaymentsInquiry::reportLinkName() const {
    return "dept-and-payments-report-1";
}

}  // namespace velk::core::features::payments
