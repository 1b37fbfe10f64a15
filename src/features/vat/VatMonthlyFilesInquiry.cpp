#include "features/vat/VatMonthlyFilesInquiry.h"

#include <algorithm>
#include <exception>

#include "common/JsonUtils.h"
#include "common/Logger.h"
#include "common/TextUtils.h"
#include "features/common/CommonParams.h"
#include "features/vat/VatFeatureGroup.h"
#include "features/vat/VatMonthdecQuery.h"
#include "features/vat/VatTextFiles.h"
#include "infrastructure/http/HtmlHelpers.h"
#include "infrastructure/http/ResponseText.h"
#include "infrastructure/portal/NapSession.h"
#include "infrastructure/portal/PortalHeaders.h"
#include "operations/InquiryResultSchemas.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::vat {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<VatMonthlyFilesInquiry>();

using operations::InquiryResult;

// The session probe's page goes into the diagnostics up to this many bytes.
constexpr std::size_t kServerSessionBytes = 800;

bool isHttpSuccess(std::int32_t status) {
    return status >= 200 && status <= 299;
}

// A page of the portal as UTF-8 by its charset, cut on a character boundary.
std::string pageStart(const infra::portal::PortalResponse& response, std::size_t maxBytes) {
    const std::string contentType =
        infra::http::findHeader(response.headers, "Content-Type").value_or(std::string());
    return utf8SafePrefix(infra::http::bodyAsUtf8(response.body, contentType), maxBytes);
}

json diagnostics(const MonthdecQueryResult& page, const ServiceLink& link, const std::string& serverSession) {
    std::vector<std::string> periods;
    for (const MonthdecRow& row : page.rows) {
        periods.push_back(row.period);
    }
    std::sort(periods.begin(), periods.end());
    periods.erase(std::unique(periods.begin(), periods.end()), periods.end());
    return {
        {"httpStatus", page.httpStatus},
        {"bodyLength", page.body.size()},
        {"bodyPreview", page.preview},
        {"url", page.url},
        {"selectedLink", link.name + " (" + link.id + ")"},
        {"serverSession", serverSession},
        {"rowsFound", page.rows.size()},
        {"periodsFound", periods},
    };
}

json filingObject(const MonthdecRow& row) {
    return {{"docId", row.docId},
            {"incomeNumber", row.incomeNumber},
            {"submittedAt", row.submittedAt},
            {"period", row.period},
            {"user", row.user},
            {"submitMethod", row.submitMethod}};
}

std::string textOf(const json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

std::string VatMonthlyFilesInquiry::typeId() const {
    return "vat_monthly_files";
}

std::string VatMonthlyFilesInquiry::displayName() const {
    return "ДДС — подадени файлове за месец";
}

std::string VatMonthlyFilesInquiry::featureGroupId() const {
    return kVatFeatureGroupId;
}

std::string VatMonthlyFilesInquiry::featureGroupName() const {
    return kVatFeatureGroupName;
}

std::int32_t VatMonthlyFilesInquiry::backendKind() const {
    return 1;
}

std::int32_t VatMonthlyFilesInquiry::flowKind() const {
    return 3;
}

std::string VatMonthlyFilesInquiry::description() const {
    return "Изтегля всички подадени ДДС справки-декларации и дневници за избран месец и ги парсва в един "
           "JSON.";
}

operations::ResultSchema VatMonthlyFilesInquiry::resultSchema() const {
    return operations::vatMonthlyFilesResultSchema();
}

std::vector<operations::ParamSpec> VatMonthlyFilesInquiry::params() const {
    return taxpayerPeriodParams();
}

std::string fileSummaryCell(const json& filing, const std::string& key) {
    const auto it = filing.find(key);
    if (it == filing.end()) {
        return "—";
    }
    if (it->is_array()) {
        return std::to_string(it->size());
    }
    if (!it->is_object() || it->empty()) {
        return "—";
    }
    return it->contains("error") ? "!" : "1";
}

operations::InquiryResult VatMonthlyFilesInquiry::run(infra::portal::NapSession* session,
                                                      const operations::ParamMap& params) const {
    InquiryResult result;
    result.columns = {{"incomeNumber", "Вх. номер"}, {"submittedAt", "Подадено на"},
                      {"docId", "Document ID"},      {"user", "Потребител"},
                      {"declaration", "Декларация"}, {"purchases", "Покупки"},
                      {"sales", "Продажби"},         {"vies", "VIES"}};

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
        const std::optional<ServiceLink> link =
            session == nullptr ? std::nullopt : session->prepareFor(*this, eik, 0);
        if (!link) {
            const std::string lastError = session == nullptr ? std::string() : session->lastError();
            return operations::errorResult(result, lastError.empty() ? "Неуспешен вход в НАП" : lastError);
        }
        const std::int32_t systemId = session->systemId();
        // Only for the diagnostics: what the portal says of the session.
        const std::string serverSession = pageStart(
            session->httpGetWithHeaders(plsPubUrl("login.status"), infra::portal::PortalPageHeaders),
            kServerSessionBytes);

        const MonthdecQueryResult page = VatMonthdecQuery(*session);
        if (!isHttpSuccess(page.httpStatus)) {
            return operations::errorResult(result,
                                           "HTTP " + std::to_string(page.httpStatus) + " от MonthdecQuery");
        }

        json submissions = json::array();
        for (const MonthdecRow& row : filterMonthdecRowsByPeriod(page.rows, year, month)) {
            json filing = filingObject(row);
            for (const VatEndpointFile& file : kVatEndpointFiles) {
                if (row.endpointIds.count(file.id) == 0) {
                    continue;
                }
                const std::string url = monthdecDownloadUrl(systemId, file.id, row.docId);
                logLine(LogLevel::Info,
                        std::string("VatMonthlyFilesInquiry: GET ") + file.fileName + " " + url);
                const infra::portal::PortalResponse response =
                    session->httpGetWithHeaders(url, {{"Accept", "*/*"}});
                if (isHttpSuccess(response.status)) {
                    // Fields are cut from the raw windows-1251 bytes.
                    filing[file.key] =
                        file.journal ? parseJournal(response.body) : parseDeklar(response.body);
                } else {
                    logLine(LogLevel::Warn, std::string("VatMonthlyFilesInquiry: ") + file.fileName +
                                                " → HTTP " + std::to_string(response.status));
                    filing[file.key] = {{"error", "HTTP " + std::to_string(response.status)}, {"url", url}};
                }
            }
            submissions.push_back(std::move(filing));
        }

        const json document = {{"eik", eik},
                               {"year", year},
                               {"month", month},
                               {"period", period},
                               {"submissions", submissions},
                               {"diagnostics", diagnostics(page, *link, serverSession)}};
        // The texts are UTF-8 by now; a stray byte from the request becomes
        // U+FFFD rather than failing the answer.
        result.rawBody = document.dump(2, ' ', false, json::error_handler_t::replace);
        result.rawBodyContentType = "application/json; charset=utf-8";

        for (const json& filing : submissions) {
            result.rows.push_back({textOf(filing, "incomeNumber"), textOf(filing, "submittedAt"),
                                   textOf(filing, "docId"), textOf(filing, "user"),
                                   fileSummaryCell(filing, "declaration"),
                                   fileSummaryCell(filing, "purchases"), fileSummaryCell(filing, "sales"),
                                   fileSummaryCell(filing, "vies")});
        }
        result.metadata["status"] = "ok";
        result.metadata["submissionCount"] = std::to_string(submissions.size());
        result.metadata["period"] = period;
    } catch (const std::exception& e) {
        const std::string text = toValidUtf8(e.what());
        logLine(LogLevel::Error, "VatMonthlyFilesInquiry: " + escapeControlBytes(text));
        result.rows.clear();
        result.rawBody.clear();
        result.rawBodyContentType.clear();
        return operations::errorResult(result, text);
    }
    return result;
}

std::string VatMonthlyFilesInquiry::serviceName() const {
    return "vat-report";
}

std::string VatMonthlyFilesInquiry::reportLinkName() const {
    return "vat-report-1";
}

}  // namespace velk::core::features::vat
