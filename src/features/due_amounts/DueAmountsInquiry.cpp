#include "features/due_amounts/DueAmountsInquiry.h"

#include "features/common/CommonParams.h"
#include "features/common/NotImplemented.h"
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
        {
            operations::rowsField(
                "items", "Задължения", "Един запис на ред — едно задължение към НАП.", "DueAmountItem",
                {
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
                                "Начислени лихви върху неплатения остатък."),
                }),
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
            schemaField("error", "Грешка", FieldType::String, true, "Текст на грешката когато status=error."),
        }};
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

operations::InquiryResult DueAmountsInquiry::run(infra::portal::NapSession* /*session*/,
                                                 const operations::ParamMap& /*params*/) const {
    return notImplementedInquiry();
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
