#include "features/vat/VatPortalFilesInquiry.h"

#include <exception>
#include "common/AgencyEndpoints.h"

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "features/common/CommonParams.h"
#include "features/vat/VatFeatureGroup.h"
#include "features/vat/VatMonthdecQuery.h"
#include "infrastructure/http/HtmlHelpers.h"
#include "infrastructure/portal/NapSession.h"
#include "operations/OperationRegistry.h"
#include "operations/SchemaFields.h"

namespace velk::core::features::vat {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<VatPortalFilesInquiry>();

using operations::FieldType;
using operations::InquiryResult;
using operations::schemaField;

bool isHttpSuccess(std::int32_t status) {
    return status >= 200 && status <= 299;
}

operations::ResultSchema portalFilesResultSchema() {
    return {
        "VatPortalFilesResult",
        operations::fieldList(
            operations::rowsField(
                "files", "Файлове", "Изтеглени DEKLAR / POKUPKI / PRODAGBI / VIES файлове.",
                "VatPortalFileItem",
                operations::fieldList(schemaField("name", "Име", FieldType::String, false,
                                                  "Име на файла (DEKLAR.TXT / POKUPKI.TXT / …)."),
                                      schemaField("type", "Тип", FieldType::String, false,
                                                  "declaration / purchases / sales / vies."),
                                      schemaField("docId", "Document ID", FieldType::String, false,
                                                  "ipdoc_id на подадената декларация."),
                                      schemaField("content", "Съдържание", FieldType::String, false,
                                                  "UTF-8 съдържание (декодирано от CP1251)."))),
            operations::enumField("status", "Статус",
                                  "ok при успех; error при липсваща декларация или HTTP грешка.",
                                  {"ok", "error"}),
            schemaField("error", "Грешка", FieldType::String, true, "Текст на грешката когато status=error."),
            schemaField("docId", "Document ID", FieldType::String, true,
                        "ipdoc_id на резултатната декларация."),
            schemaField("incomeNumber", "Вх. номер", FieldType::String, true, ""),
            schemaField("submittedAt", "Подадено на", FieldType::String, true, ""),
            schemaField("period", "Период", FieldType::String, true, ""))};
}

}  // namespace

std::string VatPortalFilesInquiry::typeId() const {
    return "vat_portal_files";
}

std::string VatPortalFilesInquiry::displayName() const {
    return "ДДС — изтегляне на резултатни файлове от портала";
}

std::string VatPortalFilesInquiry::featureGroupId() const {
    return kVatFeatureGroupId;
}

std::string VatPortalFilesInquiry::featureGroupName() const {
    return kVatFeatureGroupName;
}

std::int32_t VatPortalFilesInquiry::backendKind() const {
    return 1;
}

std::int32_t VatPortalFilesInquiry::flowKind() const {
    return 3;
}

std::string VatPortalFilesInquiry::description() const {
    return "Изтегля DEKLAR.TXT / POKUPKI.TXT / PRODAGBI.TXT / VIES.TXT от " +
           std::string(AgencyEndpoints::kPortalHost) +
           " за последно приетата ДДС декларация за избрания месец и година.";
}

operations::ResultSchema VatPortalFilesInquiry::resultSchema() const {
    return portalFilesResultSchema();
}

std::vector<operations::ParamSpec> VatPortalFilesInquiry::params() const {
    return taxpayerPeriodParams();
}

operations::InquiryResult VatPortalFilesInquiry::run(infra::portal::NapSession* session,
                                                     const operations::ParamMap& params) const {
    InquiryResult result;
    result.columns = {{"name", "Име"}, {"type", "Тип"}, {"docId", "Document ID"}, {"content", "Съдържание"}};

    const std::string eik = operations::paramOr(params, "eik", "");
    const std::string yearText = operations::paramOr(params, "year", "");
    const std::string monthText = operations::paramOr(params, "month", "");
    if (eik.empty() || yearText.empty() || monthText.empty()) {
        return operations::errorResult(result, "eik / year / month са задължителни");
    }
    const std::int32_t year = parseInt32(yearText).value_or(0);
    const std::int32_t month = parseInt32(monthText).value_or(0);
    if (year < 1 || month < 1 || month > 12) {
        return operations::errorResult(result, "Невалидни year / month");
    }
    const std::string period = infra::http::bulgarianMonthName(month) + " " + std::to_string(year);

    try {
        if (session == nullptr || !session->prepareFor(*this, eik, 0)) {
            const std::string lastError = session == nullptr ? std::string() : session->lastError();
            return operations::errorResult(result, lastError.empty() ? "Неуспешен вход в НАП" : lastError);
        }
        const std::int32_t systemId = session->systemId();
        const MonthdecQueryResult page = VatMonthdecQuery(*session);
        if (!isHttpSuccess(page.httpStatus)) {
            return operations::errorResult(result,
                                           "HTTP " + std::to_string(page.httpStatus) + " от MonthdecQuery");
        }
        const std::vector<MonthdecRow> rows = filterMonthdecRowsByPeriod(page.rows, year, month);
        if (rows.empty()) {
            return operations::errorResult(result, "Няма приета декларация за " + period);
        }
        const MonthdecRow& chosen = rows.front();
        result.metadata["docId"] = chosen.docId;
        result.metadata["incomeNumber"] = chosen.incomeNumber;
        result.metadata["submittedAt"] = chosen.submittedAt;
        result.metadata["period"] = period;

        std::int64_t downloaded = 0;
        for (const VatEndpointFile& file : kVatEndpointFiles) {
            if (chosen.endpointIds.count(file.id) == 0) {
                continue;
            }
            const std::string url = monthdecDownloadUrl(systemId, file.id, chosen.docId);
            logLine(LogLevel::Info, std::string("VatPortalFilesInquiry: GET ") + file.fileName + " " + url);
            const infra::portal::PortalResponse response =
                session->httpGetWithHeaders(url, {{"Accept", "*/*"}});
            if (!isHttpSuccess(response.status)) {
                logLine(LogLevel::Warn, std::string("VatPortalFilesInquiry: ") + file.fileName + " → HTTP " +
                                            std::to_string(response.status));
                continue;
            }
            result.rows.push_back({file.fileName, file.key, chosen.docId, cp1251ToUtf8(response.body)});
            ++downloaded;
        }
        if (downloaded == 0) {
            return operations::errorResult(result,
                                           "Декларацията е намерена, но няма достъпни прикачени файлове");
        }
        result.metadata["status"] = "ok";
        result.metadata["fileCount"] = std::to_string(downloaded);
    } catch (const std::exception& e) {
        const std::string text = toValidUtf8(e.what());
        logLine(LogLevel::Error, "VatPortalFilesInquiry: " + escapeControlBytes(text));
        result.rows.clear();
        return operations::errorResult(result, text);
    }
    return result;
}

std::string VatPortalFilesInquiry::serviceName() const {
    return "vat-report";
}

std::string VatPortalFilesInquiry::reportLinkName() const {
    return "vat-report-1";
}

}  // namespace velk::core::features::vat
