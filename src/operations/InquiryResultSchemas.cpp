#include "operations/InquiryResultSchemas.h"

#include <string>
#include <utility>
#include <vector>

#include "common/AgencyEndpoints.h"
#include "operations/SchemaFields.h"

namespace velk::core::operations {

namespace {

SchemaField okErrorStatus(std::string description) {
    return enumField("status", "Статус", std::move(description), {"ok", "error"});
}

SchemaField errorText(std::string description) {
    return schemaField("error", "Грешка", FieldType::String, true, std::move(description));
}

}  // namespace

ResultSchema debtPaymentsResultSchema() {
    return {
        "DebtPaymentsResult",
        fieldList(
            rowsField(
                "items", "Записи задължения/плащания",
                "Един ред на задължение или на плащане за избраното ЗЛ + година.", "DebtPaymentItem",
                fieldList(
                    schemaField("debtTypeName", "Вид задължение", FieldType::String, false,
                                "Текстово описание на типа задължение."),
                    schemaField("documentType", "Вид документ", FieldType::String, true, "Тип на документа."),
                    schemaField("documentNumber", "Документ №", FieldType::String, true,
                                "Идентификатор на документа."),
                    schemaField("documentDate", "Дата документ", FieldType::Date, true,
                                "ISO дата на издаване."),
                    schemaField("debtPeriod", "Период", FieldType::String, true,
                                "Период за който се отнася."),
                    schemaField("dueDate", "Падеж", FieldType::Date, true, "Падеж на задължението."),
                    schemaField("dueAmount", "Дължима сума", FieldType::Number, false,
                                "Първоначално начислена сума."),
                    schemaField("paidAmount", "Погасено", FieldType::Number, false,
                                "Платена сума по този документ."),
                    schemaField("paidAllAmount", "Общо платено", FieldType::Number, false,
                                "Общо платено по обхватната група."),
                    schemaField("outstandingAmount", "Остатък", FieldType::Number, false,
                                "Неплатен остатък по главницата."),
                    schemaField("outstandingInterest", "Лихви", FieldType::Number, false,
                                "Начислени лихви върху остатъка."),
                    schemaField("paymentTypeName", "Тип плащане", FieldType::String, true,
                                "Тип плащане; празно за чисти задължения."),
                    schemaField("datePayment", "Дата плащане", FieldType::Date, true,
                                "Дата на плащането (ако има)."))),
            okErrorStatus("ok / error."),
            schemaField("rowCount", "Брой записи", FieldType::Integer, false, "Брой върнати записи."),
            schemaField("year", "Година", FieldType::Integer, false, "Запитваната година."),
            schemaField("type", "Тип задължение", FieldType::String, false, "TYPE филтър ('0' = всички)."),
            errorText("При status=error."))};
}

ResultSchema debtPaymentsTypesResultSchema() {
    return {"DebtPaymentsTypesResult",
            fieldList(
                rowsField(
                    "items", "Типове задължения/плащания",
                    "Глобална референтна таблица — еднаква за всички ЗЛ.", "DebtPaymentTypeItem",
                    fieldList(
                        schemaField("id", "ID", FieldType::String, false, "Числов идентификатор на типа."),
                        schemaField("name", "Наименование", FieldType::String, false, "Човешко име на типа."),
                        schemaField("code", "Код", FieldType::String, true, "Кратък код, ако е наличен."),
                        schemaField("groupId", "Група", FieldType::String, true,
                                    "Идентификатор / име на категорията към която принадлежи."))),
                okErrorStatus("ok / error."),
                schemaField("rowCount", "Брой записи", FieldType::Integer, false,
                            "Колко типа е върнал порталът."),
                errorText("При status=error."))};
}

ResultSchema napCatalogResultSchema() {
    return {"NapCatalogResult",
            fieldList(rowsField("items", "Линкове", "Един ред = един service-link от категория на портала.",
                                "NapCatalogEntry",
                                fieldList(schemaField("name", "Справка", FieldType::String, false,
                                                      "Заглавие на справката (Bulgarian)."),
                                          schemaField("url", "Кликваем URL", FieldType::String, true,
                                                      "Пълен absolute URL към справката в портала."),
                                          schemaField("linkType", "Тип link", FieldType::String, true,
                                                      "NATIVE / LEGACY според това дали е PLS или REST."),
                                          schemaField("category", "Категория", FieldType::String, false,
                                                      "Име на родителската категория."),
                                          schemaField("serviceId", "serviceId", FieldType::String, true,
                                                      "Идентификатор на услугата (за директен deep-link)."),
                                          schemaField("systemId", "systemId", FieldType::String, true,
                                                      "Идентификатор на системата (PLS / REST)."))),
                      okErrorStatus("ok при успех; error при невъзможност за зареждане."),
                      schemaField("totalLinks", "Брой записи общо", FieldType::Integer, false,
                                  "Колко линка има в портала преди филтрирането."),
                      schemaField("matchedLinks", "Брой след филтър", FieldType::Integer, false,
                                  "Колко записа отговарят на filter параметъра."),
                      schemaField("categories", "Брой категории", FieldType::Integer, false,
                                  "Колко категории е върнал порталът."),
                      schemaField("error", "Текст на грешката", FieldType::String, true,
                                  "Само при status=error."))};
}

ResultSchema taxpayersResultSchema() {
    return {"TaxpayersResult",
            fieldList(
                rowsField("items", "Задължени лица",
                          "Списък на ЗЛ-та, до които има пълномощно по влезлия сертификат.", "TaxpayerItem",
                          fieldList(schemaField("name", "Наименование", FieldType::String, false, ""),
                                    schemaField("pin", "ЕИК / Булстат / ЕГН", FieldType::String, false,
                                                "Идентификатор на ЗЛ."),
                                    schemaField("pinType", "Тип идентификатор", FieldType::String, false,
                                                "BUS_BULSTAT / IND_EGN / IND_BULSTAT / IND_LNCH / IND_SLNO."),
                                    schemaField("tin", "Портал ID", FieldType::Integer, false,
                                                "Числов идентификатор в портала на НАП."),
                                    schemaField("email", "Email", FieldType::String, true,
                                                "Кореспондентски email регистриран в НАП."),
                                    schemaField("authorization", "Пълномощно", FieldType::String, true,
                                                "Текст на пълномощното, ако е приложимо."),
                                    schemaField("active", "Активен", FieldType::String, false,
                                                "да / не — стринг за съвместимост със стария вид."))),
                okErrorStatus("ok / error."),
                schemaField("count", "Брой ЗЛ", FieldType::Integer, false, "Брой върнати задължени лица."),
                errorText("При status=error."))};
}

ResultSchema vatFilesParseResultSchema() {
    return {
        "VatFilesParseResult",
        fieldList(
            rowsField("items", "Открити файлове", "Един ред на всеки от трите ДДС файла в избраната папка.",
                      "VatFileSummary",
                      fieldList(schemaField("file", "Файл", FieldType::String, false,
                                            "DEKLAR.TXT / POKUPKI.TXT / PRODAGBI.TXT."),
                                enumField("status", "Статус",
                                          "ok когато файлът е намерен и парснат; липсва когато не е намерен.",
                                          {"ok", "липсва"}),
                                schemaField("count", "Записи", FieldType::String, true,
                                            "Брой записи; тире (—) при липсващ файл."))),
            enumField("status", "Общ статус", "ok / partial / error.", {"ok", "partial", "error"}),
            schemaField("error", "Грешки", FieldType::String, true,
                        "Списък на грешки от парсера, разделени с ' ; '."),
            schemaField("directory", "Папка", FieldType::String, false,
                        "Папката, която е била обработена."))};
}

ResultSchema vatMonthlyFilesResultSchema() {
    const std::string incomeNumberDescription =
        "Входящ номер от " + std::string(AgencyEndpoints::kPortalHost) + ".";
    return {"VatMonthlyFilesResult",
            fieldList(
                rowsField("items", "Подавания за месеца",
                          "Едно подаване на ред — метаданни + парснатите файлове.", "VatMonthlySubmission",
                          fieldList(schemaField("incomeNumber", "Вх. номер", FieldType::String, true,
                                                incomeNumberDescription),
                                    schemaField("submittedAt", "Подадено на", FieldType::String, true,
                                                "Дата+час; форматът зависи от това какво е върнал порталът."),
                                    schemaField("docId", "Document ID", FieldType::String, true,
                                                "Идентификатор на документа в портала."),
                                    schemaField("user", "Потребител", FieldType::String, true,
                                                "Кой е подал (от извлечения header)."),
                                    schemaField("declaration", "DEKLAR.TXT (JSON)", FieldType::String, true,
                                                "Парснат JSON на декларацията — низ за съвместимост."),
                                    schemaField("purchases", "POKUPKI.TXT (JSON)", FieldType::String, true,
                                                "Парснат JSON на покупките."),
                                    schemaField("sales", "PRODAGBI.TXT (JSON)", FieldType::String, true,
                                                "Парснат JSON на продажбите."),
                                    schemaField("vies", "VIES.TXT (JSON)", FieldType::String, true,
                                                "Парснат JSON на VIES, ако файлът присъства."))),
                okErrorStatus("ok / error."), errorText("При status=error."))};
}

// "java_missing" is listed too: the inquiry reports it when no Java runtime is
// found. It stands last so the demo status stays "ok".
ResultSchema vatValidationResultSchema() {
    return {"VatValidationResult",
            fieldList(rowsField("items", "Съобщения от валидатора",
                                "Едно съобщение на ред — източник + текст.", "VatValidationMessage",
                                fieldList(schemaField("source", "Източник", FieldType::String, false,
                                                      "preflight / auth / bootstrap / validator."),
                                          schemaField("message", "Съобщение", FieldType::String, false,
                                                      "Текст на грешката или потвърждение."))),
                      enumField("status", "Резултат", "ok / invalid / unavailable / error.",
                                {"ok", "invalid", "unavailable", "error", "java_missing"}),
                      schemaField("errorCount", "Брой грешки", FieldType::Integer, false,
                                  "Брой validator-грешки (0 при ok)."),
                      schemaField("message", "Бележка", FieldType::String, true,
                                  "Свободен текст; при unavailable обяснява защо."))};
}

}  // namespace velk::core::operations
