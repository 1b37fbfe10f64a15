#include "features/payments/DebtPaymentsInquiry.h"

#include <exception>
#include <optional>

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "features/common/CommonParams.h"
#include "features/common/DebtPaymentsPortal.h"
#include "features/common/PortalInquiryOutcome.h"
#include "features/common/PortalJsonFields.h"
#include "infrastructure/portal/NapSession.h"
#include "operations/InquiryResultSchemas.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::payments {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<DebtPaymentsInquiry>();

// Each column reads the JSON member of the same name.
const std::vector<operations::ResultColumn> kColumns = {
    {"debtTypeName", "Вид задължение"}, {"documentType", "Вид документ"},
    {"documentNumber", "Документ №"},   {"documentDate", "Дата на документа"},
    {"debtPeriod", "Период"},           {"dueDate", "Падеж"},
    {"dueAmount", "Дължима сума"},      {"paidAmount", "Погасено"},
    {"paidAllAmount", "Общо платено"},  {"outstandingAmount", "Остатък"},
    {"outstandingInterest", "Лихви"},   {"paymentTypeName", "Тип плащане"},
    {"datePayment", "Дата на плащане"},
};

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

operations::InquiryResult DebtPaymentsInquiry::run(infra::portal::NapSession* session,
                                                   const operations::ParamMap& params) const {
    operations::InquiryResult result;
    result.columns = kColumns;

    const std::string eik = operations::paramOr(params, "eik", "");
    const std::string yearText = operations::paramOr(params, "year", "");
    const std::string type = operations::paramOr(params, "type", "0");
    if (eik.empty()) {
        markFailed(result, "eik е задължителен");
        return result;
    }
    if (yearText.empty()) {
        markFailed(result, "year е задължителен");
        return result;
    }

    if (!session->prepareFor(*this, eik, 0) && !session->lastError().empty()) {
        logLine(LogLevel::Warn,
                "DebtPaymentsInquiry: portal prep failed: " + escapeControlBytes(session->lastError()));
        markFailed(result, session->lastError());
        return result;
    }

    // A year text without digits queries year 0: no guess at the year meant.
    const std::string url = debtPaymentsUrl(type, leadingYear(yearText).value_or(0));
    const std::optional<json> reply = fetchObligations(*session, url, result, "DebtPaymentsInquiry");
    if (!reply) {
        return result;
    }
    try {
        // Every record is a row, whatever it holds; nothing is summed.
        for (const json& element : *reply) {
            std::vector<std::string> row;
            row.reserve(kColumns.size());
            for (const operations::ResultColumn& column : kColumns) {
                row.push_back(jsonFieldText(element, column.id));
            }
            result.rows.push_back(std::move(row));
        }
    } catch (const std::exception& e) {
        markParseFailure(result, "DebtPaymentsInquiry", e);
        return result;
    }
    result.metadata["status"] = "ok";
    result.metadata["rowCount"] = std::to_string(result.rows.size());
    result.metadata["year"] = yearText;
    result.metadata["type"] = type;
    return result;
}

std::string DebtPaymentsInquiry::serviceName() const {
    return "dept-and-payments-report";
}

std::string DebtPaymentsInquiry::reportLinkName() const {
    return "dept-and-payments-report-1";
}

}  // namespace velk::core::features::payments
