#include "features/dec16/Dec16PortalFilesInquiry.h"

#include <optional>

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "features/common/CommonParams.h"
#include "features/dec16/Dec16FeatureGroup.h"
#include "features/dec16/Dec16PortalListing.h"
#include "infrastructure/http/HtmlHelpers.h"
#include "infrastructure/portal/NapSession.h"
#include "operations/OperationRegistry.h"
#include "operations/SchemaFields.h"

namespace velk::core::features::dec16 {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<Dec16PortalFilesInquiry>();

using operations::FieldType;
using operations::InquiryResult;
using operations::schemaField;

constexpr std::int32_t kPageSize = 10;
// Filings are listed newest first; two years of monthly filings and more
// fit in this many pages.
constexpr std::int32_t kMaxPages = 24;

// The first filing of the period, reading further pages of the listing while
// there are more; empty with the failure in error.
std::optional<Dec16ListingRow> findFiling(infra::portal::NapSession& session, std::int32_t year,
                                          std::int32_t month, std::string& error) {
    for (std::int32_t page = 0; page < kMaxPages; ++page) {
        const Dec16ListingPage listing = Dec16PortalListing(session, page, kPageSize);
        if (!listing.error.empty()) {
            error = listing.error;
            return std::nullopt;
        }
        const std::vector<Dec16ListingRow> matches = filterDec16RowsByPeriod(listing.rows, year, month);
        if (!matches.empty()) {
            return matches.front();
        }
        if (page + 1 >= listing.totalPages) {
            break;
        }
    }
    return std::nullopt;
}

struct SignedFile {
    std::int64_t id;
    const char* kind;
    const char* name;
};

operations::ResultSchema portalFilesResultSchema() {
    return {
        "Dec16PortalFilesResult",
        operations::fieldList(
            operations::rowsField(
                "files", "Файлове", "Изтеглени Д1 (EMPL2021) и Д6 (NRA62007) файлове.", "Dec16PortalFileItem",
                operations::fieldList(schemaField("name", "Име", FieldType::String, false,
                                                  "Канонично име на файла (EMPL2021.TXT / NRA62007.TXT)."),
                                      schemaField("type", "Тип", FieldType::String, false, "dec1 / dec6."),
                                      schemaField("docFileId", "File ID", FieldType::String, false,
                                                  "ID на подписания файл в портала."),
                                      schemaField("content", "Съдържание", FieldType::String, false,
                                                  "UTF-8 съдържание (декодирано от CP1251)."))),
            operations::enumField("status", "Статус",
                                  "ok при успех; error при липсваща декларация или HTTP грешка.",
                                  {"ok", "error"}),
            schemaField("error", "Грешка", FieldType::String, true, "Текст на грешката когато status=error."),
            schemaField("submissionId", "Submission ID", FieldType::String, true,
                        "ID на цялото подаване (Д1+Д6) в портала."),
            schemaField("incomeNumber", "Вх. номер", FieldType::String, true, ""),
            schemaField("submittedAt", "Подадено на", FieldType::String, true,
                        "ISO-8601 timestamp от entryDate."),
            schemaField("period", "Период", FieldType::String, true, "Например „Март 2026\"."))};
}

}  // namespace

std::string Dec16PortalFilesInquiry::typeId() const {
    return "dec1_6_portal_files";
}

std::string Dec16PortalFilesInquiry::displayName() const {
    return "Декларации обр. 1 и 6 — изтегляне на подадените файлове";
}

std::string Dec16PortalFilesInquiry::featureGroupId() const {
    return kDec16GroupId;
}

std::string Dec16PortalFilesInquiry::featureGroupName() const {
    return kDec16GroupName;
}

std::int32_t Dec16PortalFilesInquiry::backendKind() const {
    return 1;
}

std::int32_t Dec16PortalFilesInquiry::flowKind() const {
    return 3;
}

std::string Dec16PortalFilesInquiry::description() const {
    return "Изтегля Д1 (EMPL2021) и Д6 (NRA62007) файловете на подадена декларация обр. 1 и 6 за избрана "
           "фирма, година и месец. Връща съдържанието като UTF-8 текст (декодирано от CP1251).";
}

operations::ResultSchema Dec16PortalFilesInquiry::resultSchema() const {
    return portalFilesResultSchema();
}

std::vector<operations::ParamSpec> Dec16PortalFilesInquiry::params() const {
    return taxpayerPeriodParams();
}

operations::InquiryResult Dec16PortalFilesInquiry::run(infra::portal::NapSession* session,
                                                       const operations::ParamMap& params) const {
    InquiryResult result;
    result.columns = {{"name", "Име"}, {"type", "Тип"}, {"docFileId", "File ID"}, {"content", "Съдържание"}};

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

    if (!session->prepareFor(*this, eik, 0)) {
        const std::string& lastError = session->lastError();
        return operations::errorResult(
            result, lastError.empty() ? "Неуспешна portal session prep за " + std::string(kDec16GroupName)
                                      : lastError);
    }

    std::string listingError;
    const std::optional<Dec16ListingRow> filing = findFiling(*session, year, month, listingError);
    if (!listingError.empty()) {
        return operations::errorResult(result, listingError);
    }
    if (!filing) {
        return operations::errorResult(result, "Няма подадена декларация обр. 1 и 6 за " + period);
    }
    result.metadata["submissionId"] = std::to_string(filing->id);
    result.metadata["incomeNumber"] = filing->entryNumber;
    result.metadata["submittedAt"] = filing->entryDate;
    result.metadata["period"] = period;

    std::int64_t downloaded = 0;
    for (const SignedFile& file : {SignedFile{filing->d1DocFileId, "dec1", "EMPL2021.TXT"},
                                   SignedFile{filing->d6DocFileId, "dec6", "NRA62007.TXT"}}) {
        if (file.id == 0) {
            continue;
        }
        const std::string url = signedDocumentUrl(file.id);
        logLine(LogLevel::Info, std::string("Dec16PortalFilesInquiry: GET ") + file.name + " " + url);
        const infra::portal::PortalResponse response = session->httpGetWithHeaders(url, {{"Accept", "*/*"}});
        if (response.status < 200 || response.status > 299) {
            logLine(LogLevel::Warn, std::string("Dec16PortalFilesInquiry: ") + file.name + " → HTTP " +
                                        std::to_string(response.status));
            continue;
        }
        result.rows.push_back({file.name, file.kind, std::to_string(file.id), cp1251ToUtf8(response.body)});
        ++downloaded;
    }
    if (downloaded == 0) {
        return operations::errorResult(result, "Декларацията е намерена, но няма достъпни прикачени файлове");
    }
    result.metadata["status"] = "ok";
    result.metadata["fileCount"] = std::to_string(downloaded);
    return result;
}

std::string Dec16PortalFilesInquiry::serviceName() const {
    return "dec1-and-6";
}

std::string Dec16PortalFilesInquiry::reportLinkName() const {
    return "dec1-and-6-2-1";
}

}  // namespace velk::core::features::dec16
