#include "features/due_amounts/DueAmountsInquiry.h"

#include <ctime>
#include <exception>
#include <optional>

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "features/common/CommonParams.h"
#include "features/common/DebtPaymentsPortal.h"
#include "features/common/PortalInquiryOutcome.h"
#include "features/common/PortalJsonFields.h"
#include "infrastructure/portal/NapSession.h"
#include "operations/OperationRegistry.h"
#include "operations/SchemaFields.h"

namespace velk::core::features::due_amounts {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<DueAmountsInquiry>();

using operations::FieldType;
using operations::schemaField;

operations::ResultSchema dueAmountsResultSchema() {
    return {
        "DueAmountsResult",
        operations::fieldList(
            operations::rowsField(
                "items", "Задължения", "Един запис на ред — едно задължение към НАП.", "DueAmountItem",
                operations::fieldList(
                    schemaField("debtTypeName", "Вид задължение", FieldType::String, false,
                                "Текстово описание на типа задължение."),
                    schemaField("documentType", "Вид документ", FieldType::String, false,
                                "Тип на документа, по който е възникнало задължението."),
                    schemaField("documentNumber", "Документ №", FieldType::String, false,
                                "Идентификатор на документа издадeн от НАП."),
                    schemaField("documentDate", "Дата на документа", FieldType::Date, true,
                                "ISO дата на издаване на документа."),
                    schemaField("debtPeriod", "Период", FieldType::String, true,
                                "Период за който се отнася задължението (свободен текст)."),
                    schemaField("dueDate", "Падеж", FieldType::Date, true, "Падеж на задължението."),
                    schemaField("dueAmount", "Дължима сума", FieldType::Number, false,
                                "Първоначално начислена сума."),
                    schemaField("outstandingAmount", "Остатък за плащане", FieldType::Number, false,
                                "Неплатен остатък по главницата."),
                    schemaField("outstandingInterest", "Начислени лихви", FieldType::Number, false,
                                "Начислени лихви върху неплатения остатък."))),
            schemaField("totalOutstanding", "Общ остатък", FieldType::Number, false,
                        "Сбор на outstandingAmount по всички записи."),
            schemaField("totalInterest", "Общи лихви", FieldType::Number, false,
                        "Сбор на outstandingInterest по всички записи."),
            schemaField("year", "Година", FieldType::Integer, false,
                        "Годината, за която е поискана справката."),
            schemaField("rowCount", "Брой записи", FieldType::Integer, false, "Колко задължения са върнати."),
            operations::enumField("status", "Статус",
                                  "ok при успех; error когато порталът или паресрът е върнал грешка.",
                                  {"ok", "error"}),
            schemaField("error", "Грешка", FieldType::String, true,
                        "Текст на грешката когато status=error."))};
}

// Each column reads the JSON member of the same name.
const std::vector<operations::ResultColumn> kColumns = {
    {"debtTypeName", "Вид задължение"},
    {"documentType", "Вид документ"},
    {"documentNumber", "Документ №"},
    {"documentDate", "Дата на документа"},
    {"debtPeriod", "Период"},
    {"dueDate", "Падеж"},
    {"dueAmount", "Дължима сума"},
    {"outstandingAmount", "Остатък за плащане"},
    {"outstandingInterest", "Начислени лихви"},
};

std::int32_t currentLocalYear() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_year + 1900;
}

// The year asked for, and the text the result reports for it: the text as
// sent when it holds a year, else the year actually queried.
struct YearChoice {
    std::int32_t number = 0;
    std::string text;
};

YearChoice chooseYear(const operations::ParamMap& params) {
    const std::int32_t current = currentLocalYear();
    const std::string sent = operations::paramOr(params, "year", std::to_string(current));
    if (const std::optional<std::int32_t> year = leadingYear(sent)) {
        return {*year, sent};
    }
    return {current, std::to_string(current)};
}

// One row per obligation with a kind or a document; the totals over the rows.
void readObligations(operations::InquiryResult& result, const json& reply) {
    double outstanding = 0.0;
    double interest = 0.0;
    for (const json& element : reply) {
        if (jsonFieldText(element, "debtTypeName").empty() &&
            jsonFieldText(element, "documentType").empty()) {
            continue;
        }
        outstanding += jsonFieldNumber(element, "outstandingAmount");
        interest += jsonFieldNumber(element, "outstandingInterest");
        std::vector<std::string> row;
        row.reserve(kColumns.size());
        for (const operations::ResultColumn& column : kColumns) {
            row.push_back(jsonFieldText(element, column.id));
        }
        result.rows.push_back(std::move(row));
    }
    result.metadata["totalOutstanding"] = formatFixed(outstanding, 2);
    result.metadata["totalInterest"] = formatFixed(interest, 2);
}

}  // namespace

std::string DueAmountsInquiry::typeId() const {
    return "due_amounts";
}

std::string DueAmountsInquiry::displayName() const {
    return "Справка за дължими суми";
}

std::string DueAmountsInquiry::featureGroupId() const {
    return "dueAmounts";
}

std::string DueAmountsInquiry::featureGroupName() const {
    return "Дължими суми";
}

std::int32_t DueAmountsInquiry::backendKind() const {
    return 1;
}

std::int32_t DueAmountsInquiry::flowKind() const {
    return 3;
}

std::string DueAmountsInquiry::description() const {
    return "Списък на дължими суми (главница, лихва) към дадена дата.";
}

operations::ResultSchema DueAmountsInquiry::resultSchema() const {
    return dueAmountsResultSchema();
}

std::vector<operations::ParamSpec> DueAmountsInquiry::params() const {
    return {eikParam(true), yearParam(false)};
}

operations::InquiryResult DueAmountsInquiry::run(infra::portal::NapSession* session,
                                                 const operations::ParamMap& params) const {
    operations::InquiryResult result;
    result.columns = kColumns;

    const std::string eik = operations::paramOr(params, "eik", "");
    if (eik.empty()) {
        markFailed(result, "eik е задължителен");
        return result;
    }
    const YearChoice year = chooseYear(params);

    if (!session->prepareFor(*this, eik, 0) && !session->lastError().empty()) {
        logLine(LogLevel::Warn,
                "DueAmountsInquiry: portal prep failed: " + escapeControlBytes(session->lastError()));
        markFailed(result, session->lastError());
        return result;
    }

    const std::string url = debtPaymentsUrl("0", year.number);
    const std::optional<json> reply = fetchObligations(*session, url, result, "DueAmountsInquiry");
    if (!reply) {
        return result;
    }
    try {
        readObligations(result, *reply);
    } catch (const std::exception& e) {
        markParseFailure(result, "DueAmountsInquiry", e);
        return result;
    }
    result.metadata["status"] = "ok";
    result.metadata["rowCount"] = std::to_string(result.rows.size());
    result.metadata["year"] = year.text;
    return result;
}

std::chrono::seconds DueAmountsInquiry::cacheTtl() const {
    return std::chrono::seconds{21600};
}

std::string DueAmountsInquiry::serviceName() const {
    return "dept-and-payments-report";
}

std::string DueAmountsInquiry::reportLinkName() const {
    return "dept-and-payments-report-1";
}

}  // namespace velk::core::features::due_amounts
