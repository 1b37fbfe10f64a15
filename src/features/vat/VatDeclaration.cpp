#include "features/vat/VatDeclaration.h"

#include <chrono>
#include <filesystem>
#include <set>
#include <system_error>

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "features/common/CommonParams.h"
#include "features/vat/NraEncryptionCert.h"
#include "features/vat/ScopedSessionFetcher.h"
#include "features/vat/VatFeatureGroup.h"
#include "features/vat/VatJavaFinder.h"
#include "features/vat/VatMonthdecQuery.h"
#include "features/vat/VatTextFiles.h"
#include "infrastructure/http/ResponseText.h"
#include "infrastructure/java/BridgeLimits.h"
#include "infrastructure/java/ZezizUrBridge.h"
#include "infrastructure/portal/NapSession.h"
#include "operations/OperationRegistry.h"
#include "operations/PlsUrls.h"
#include "operations/SubmissionResultSchema.h"

namespace velk::core::features::vat {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<VatDeclaration>();

using infra::java::logText;

constexpr const char* kNotConfirmed =
    "Декларацията е изпратена, но не е получено потвърждение от НАП (DocumentId липсва). Моля проверете в "
    "портала на НАП дали декларацията е приета.";

std::string javaMissingMessage() {
    return std::string("За подаване на ДДС декларация е нужна Java (Java 11 или по-нова). ") +
           kJavaPackageAdvice;
}

void logProgress(const std::string& prefix, const std::string& text) {
    logLine(LogLevel::Info, prefix + logText(text));
}

// A numeric parameter arrives as "2025.000000": its leading integer, else 0.
std::int32_t leadingInt(const operations::ParamMap& params, const std::string& key) {
    return parseInt32(operations::paramOr(params, key, "")).value_or(0);
}

// The document ids the results page of the period listed before the filing.
// Without such a page no row can be told apart from an earlier filing's.
struct EarlierFilings {
    bool read = false;
    std::set<std::string> docIds;
};

EarlierFilings readEarlierFilings(infra::portal::NapSession& session, const VatDeclaration& declaration,
                                  const std::string& eik) {
    EarlierFilings earlier;
    if (!session.prepareFor(declaration, eik, 0)) {
        logLine(LogLevel::Warn, "VAT submit: results-context prepareFor before filing failed: " +
                                    logText(session.lastError()));
        return earlier;
    }
    logLine(LogLevel::Info,
            "VAT submit: reading filings listed before this one in " + plsPubUrl("ivat.pub.MonthdecQuery"));
    const MonthdecQueryResult page = VatMonthdecQuery(session);
    if (page.httpStatus < 200 || page.httpStatus > 299) {
        logLine(LogLevel::Warn, "VAT submit: results page before filing failed — HTTP " +
                                    std::to_string(page.httpStatus) +
                                    "; no row will be taken as this filing's confirmation");
        return earlier;
    }
    earlier.read = true;
    for (const MonthdecRow& row : page.rows) {
        earlier.docIds.insert(row.docId);
    }
    return earlier;
}

// Steps after a filing went through: the row of the period that the page did
// not list before the filing gives the income number and the document id.
void confirmFromResultsPage(operations::SubmissionResult& result, infra::portal::NapSession& session,
                            const VatDeclaration& declaration, const operations::ParamMap& params,
                            const EarlierFilings& earlier) {
    const std::string eik = operations::paramOr(params, "eik", "");
    const std::int32_t year = leadingInt(params, "year");
    const std::int32_t month = leadingInt(params, "month");
    if (!session.prepareFor(declaration, eik, 0)) {
        logLine(LogLevel::Warn,
                "VAT submit: results-context prepareFor failed: " + logText(session.lastError()));
        return;
    }
    // So that the portal lists the new filing.
    session.sleep(std::chrono::milliseconds(1000));
    logLine(LogLevel::Info, "VAT submit: looking up newest row in " + plsPubUrl("ivat.pub.MonthdecQuery"));
    const MonthdecQueryResult page = VatMonthdecQuery(session);
    if (page.httpStatus < 200 || page.httpStatus > 299 || page.body.empty()) {
        logLine(LogLevel::Warn,
                "VAT submit: results page fetch failed — HTTP " + std::to_string(page.httpStatus));
        return;
    }
    result.rawBody = infra::http::bodyAsUtf8(page.body, page.contentType);
    result.rawBodyContentType = "text/html; charset=utf-8";
    result.rawBodyUrl = page.url;
    logLine(LogLevel::Info, "VAT submit: results page " + std::to_string(page.body.size()) + " bytes cached");
    if (page.rows.empty()) {
        logLine(LogLevel::Warn,
                "VAT submit: MonthdecQuery returned 0 rows — submission confirmation delayed");
        return;
    }
    if (!earlier.read) {
        logLine(LogLevel::Warn,
                "VAT submit: no results page from before the filing to tell its row apart — submission "
                "confirmation delayed");
        return;
    }
    for (const MonthdecRow& row : filterMonthdecRowsByPeriod(page.rows, year, month)) {
        if (earlier.docIds.count(row.docId) != 0) {
            continue;
        }
        result.incomeNumber = row.incomeNumber;
        result.documentId = row.docId;
        result.submissionDate = row.submittedAt;
        logLine(LogLevel::Info, "VAT submit: matched row " + logText(result.incomeNumber) + " / " +
                                    logText(result.documentId));
        return;
    }
    logLine(LogLevel::Warn,
            "VAT submit: no new row of the period on the results page — submission confirmation delayed");
}

}  // namespace

std::string VatDeclaration::typeId() const {
    return kVatFeatureGroupId;
}

std::string VatDeclaration::displayName() const {
    return "ДДС декларация";
}

std::string VatDeclaration::featureGroupId() const {
    return kVatFeatureGroupId;
}

std::string VatDeclaration::featureGroupName() const {
    return kVatFeatureGroupName;
}

std::int32_t VatDeclaration::backendKind() const {
    return 3;
}

std::int32_t VatDeclaration::flowKind() const {
    return 5;
}

std::string VatDeclaration::description() const {
    return "Месечна ДДС декларация с покупки и продажби (DEKLAR.TXT + POKUPKI.TXT + PRODAGBI.TXT).";
}

operations::ResultSchema VatDeclaration::resultSchema() const {
    return operations::submissionResultSchema("VatSubmissionResult");
}

std::vector<operations::ParamSpec> VatDeclaration::params() const {
    return {yearParam(true),
            monthParam(),
            eikParam(true),
            {"iban", "IBAN за възст.", operations::ParamType::String, false, {}, {}, ""}};
}

std::int32_t VatDeclaration::inputKind() const {
    return static_cast<std::int32_t>(operations::InputKind::Folder);
}

operations::InputCheck VatDeclaration::validateInput(const std::string& path) const {
    const VatFolderCheck files = checkVatFolderFiles(path);
    operations::InputCheck check;
    check.ok = files.ok;
    for (const std::string& name : files.missing) {
        check.errors.push_back("Липсва файл: " + name);
    }
    return check;
}

// Each step ends the submission when it fails. The filing itself is the Java
// client's; the results page then tells which document the agency made of it.
operations::SubmissionResult VatDeclaration::submit(infra::portal::NapSession* session,
                                                    const std::string& filePath,
                                                    const operations::ParamMap& params) const {
    operations::SubmissionResult result;
    signing::ISigner* signer = session != nullptr ? session->signer() : nullptr;
    if (signer == nullptr) {
        result.errorMessage = "No signer configured on session";
        return result;
    }
    infra::java::ZezizUrBridge* bridge = session->zezizUrBridge();
    if (bridge == nullptr) {
        result.errorMessage = "No ZezizUrBridge configured on session";
        return result;
    }
    const operations::InputCheck files = validateInput(filePath);
    if (!files.ok) {
        result.errorMessage = "Файловата валидация не мина (преди Java)";
        result.nativeErrors = files.errors;
        return result;
    }
    if (!findJavaForVat()) {
        logLine(LogLevel::Warn, "VAT submit: Java not found on system");
        result.errorMessage = javaMissingMessage();
        return result;
    }
    if (!session->prepareFromParams(*this, params)) {
        result.errorMessage = session->lastError();
        return result;
    }
    const ScopedSessionFetcher fetcher(*bridge, *session);
    if (!bridge->ensureInstalled([](const std::string& text) { logProgress("ZezizUR install: ", text); })) {
        result.errorMessage =
            "Не успяхме да инсталираме ZezizUR библиотеките. Проверете дали сте влезли в НАП.";
        return result;
    }
    const std::vector<std::string> errors =
        bridge->validate(filePath, [](const std::string& text) { logProgress("ZezizUR validate: ", text); });
    if (!errors.empty()) {
        result.errorMessage = "ZezizUR validator returned errors";
        result.nativeErrors = errors;
        return result;
    }
    const EarlierFilings earlier =
        readEarlierFilings(*session, *this, operations::paramOr(params, "eik", ""));

    const auto email = params.find("signerEmail");
    const std::string signerEmail = email != params.end() ? email->second : session->identity().signerEmail;
    const std::string iban = operations::paramOr(params, "iban", "");
    const infra::java::ZezizUrSubmitResult filed = bridge->submit(
        filePath, *signer, session->identity().certificateId, signerEmail, nraEncryptionCertBase64(), iban,
        [](const std::string& text) { logProgress("ZezizUR submit: ", text); });
    result.success = filed.ok;
    result.errorMessage = filed.message;
    result.nativeErrors = filed.nativeErrors;
    if (!result.success) {
        return result;
    }

    confirmFromResultsPage(result, *session, *this, params, earlier);
    if (result.documentId.empty() || result.documentId == "0") {
        result.success = false;
        result.errorMessage = kNotConfirmed;
    }
    return result;
}

std::string VatDeclaration::documentTypeCode() const {
    return "0";
}

std::vector<operations::FormField> VatDeclaration::extraFormFields(std::optional<std::int32_t> month,
                                                                   const std::string& iban) const {
    std::vector<operations::FormField> fields;
    if (month) {
        fields.emplace_back("pmonth", std::to_string(*month));
    }
    fields.emplace_back("app6", "0");
    fields.emplace_back("app9", "0");
    fields.emplace_back("appHeir", "0");
    if (!iban.empty()) {
        fields.emplace_back("iban", iban);
    }
    fields.emplace_back("ibanDisabled", iban.empty() ? "1" : "0");
    return fields;
}

// A return is a folder; the portal expects the declaration's own file name then.
std::string VatDeclaration::uploadFileName(const std::string& path) const {
    std::error_code error;
    if (!path.empty() && std::filesystem::is_directory(path, error)) {
        return "deklar.txt";
    }
    return ISubmission::uploadFileName(path);
}

// The VAT module's document page rather than a showResult page; the link plays no part.
std::string VatDeclaration::showResultUrl(const std::string& pid, const ServiceLink& /*link*/) const {
    return operations::plsBaseUrl() + "ivat.pub.ShowDocument?ipId=" + percentEncode(pid) + "&ipDocType=20";
}

std::int32_t VatDeclaration::reservedInt() const {
    return 1;
}

bool VatDeclaration::reservedFlagA() const {
    return true;
}

bool VatDeclaration::reservedFlagB() const {
    return true;
}

std::string VatDeclaration::serviceName() const {
    return "vat-report";
}

std::string VatDeclaration::submitLinkName() const {
    return "vat-report-2";
}

std::string VatDeclaration::reportLinkName() const {
    return "vat-report-1";
}

std::string VatDeclaration::plsModule() const {
    return "IVAT.PUB";
}

}  // namespace velk::core::features::vat
