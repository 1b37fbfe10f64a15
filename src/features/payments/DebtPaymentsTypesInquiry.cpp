#include "features/payments/DebtPaymentsTypesInquiry.h"

#include "features/common/NotImplemented.h"
#include "operations/InquiryResultSchemas.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::payments {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<DebtPaymentsTypesInquiry>();

}  // namespace

std::string DebtPaymentsTypesInquiry::typeId() const {
    return "debt_payments_types";
}

std::string DebtPaymentsTypesInquiry::displayName() const {
    return "Типове дълг / плащания";
}

std::string DebtPaymentsTypesInquiry::featureGroupId() const {
    return "payments";
}

std::string DebtPaymentsTypesInquiry::featureGroupName() const {
    return "Задължения и плащания";
}

std::int32_t DebtPaymentsTypesInquiry::backendKind() const {
    return 1;
}

std::int32_t DebtPaymentsTypesInquiry::flowKind() const {
    return 3;
}

std::string DebtPaymentsTypesInquiry::description() const {
    return "Пълен списък на видовете задължения и плащания, поддържани от портала на НАП (за референция при "
           "филтриране на справките).";
}

bool DebtPaymentsTypesInquiry::requiresSubmissionToken() const {
    return false;
}

operations::ResultSchema DebtPaymentsTypesInquiry::resultSchema() const {
    return operations::debtPaymentsTypesResultSchema();
}

std::vector<operations::ParamSpec> DebtPaymentsTypesInquiry::params() const {
    return {};
}

operations::InquiryResult DebtPaymentsTypesInquiry::run(infra::portal::NapSession* /*session*/,
                                                        const operations::ParamMap& /*params*/) const {
    return notImplementedInquiry();
}

std::string DebtPaymentsTypesInquiry::serviceName() const {
    return "dept-and-payments-report";
}

std::string DebtPaymentsTypesInquiry::reportLinkName() const {
    return "dept-and-payments-report-1";
}

}  // namespace velk::core::features::payments
