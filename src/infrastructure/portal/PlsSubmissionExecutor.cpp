#include "infrastructure/portal/PlsSubmissionExecutor.h"

#include <chrono>
#include <ctime>
#include <exception>
#include <optional>
#include <string_view>
#include <vector>

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "infrastructure/http/Gzip.h"
#include "infrastructure/http/HtmlHelpers.h"
#include "infrastructure/http/ResponseText.h"
#include "infrastructure/portal/DeclarationFile.h"
#include "infrastructure/portal/NapSession.h"
#include "infrastructure/portal/PlsListing.h"
#include "infrastructure/portal/PlsPageScan.h"
#include "infrastructure/portal/PlsReply.h"
#include "infrastructure/portal/PortalHeaders.h"
#include "infrastructure/signing/ISigner.h"
#include "infrastructure/signing/InvalidPinException.h"
#include "infrastructure/signing/SigningCancelledException.h"

namespace velk::core::infra::portal {

namespace {

using operations::SubmissionResult;

constexpr std::size_t kLogPreviewBytes = 500;
constexpr std::size_t kMessageBytes = 400;
constexpr std::chrono::milliseconds kListingDelay{1000};

bool isSuccess(std::int32_t status) {
    return status >= 200 && status <= 299;
}

SubmissionResult failed(SubmissionResult result, std::string message) {
    result.success = false;
    result.errorMessage = std::move(message);
    return result;
}

std::int32_t currentLocalYear() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_year + 1900;
}

std::optional<std::int32_t> paramInt(const operations::ParamMap& params, const std::string& key) {
    return parseInt32(operations::paramOr(params, key, ""));
}

// Names only, never values: the values are the session.
std::string cookieNames(const std::string& jarText) {
    std::string names;
    std::size_t lineStart = 0;
    while (lineStart < jarText.size()) {
        std::size_t lineEnd = jarText.find('\n', lineStart);
        if (lineEnd == std::string::npos) {
            lineEnd = jarText.size();
        }
        std::string_view line(jarText.data() + lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        constexpr std::string_view kHttpOnly = "#HttpOnly_";
        if (line.starts_with(kHttpOnly)) {
            line.remove_prefix(kHttpOnly.size());
        }
        if (line.starts_with('#')) {
            continue;
        }
        std::size_t pos = 0;
        for (int tab = 0; tab < 5 && pos != std::string_view::npos; ++tab) {
            pos = line.find('\t', pos);
            pos = pos == std::string_view::npos ? pos : pos + 1;
        }
        const std::size_t end = pos == std::string_view::npos ? pos : line.find('\t', pos);
        if (end == std::string_view::npos) {
            continue;
        }
        names += (names.empty() ? "" : ", ") + escapeControlBytes(line.substr(pos, end - pos));
    }
    return names;
}

// The signature over the normalised content, or the failure message.
struct Signature {
    signing::Bytes bytes;
    std::string error;
};

Signature signForPortal(NapSession& session, const std::vector<std::uint8_t>& content) {
    try {
        Signature signature;
        signature.bytes =
            session.signer()->signDataForPortal(content, session.identity().certificateId, session.pin());
        if (signature.bytes.empty()) {
            signature.error = "Подписът е празен — неуспешно подписване.";
        }
        return signature;
    } catch (const signing::SigningCancelledException&) {
        return {{}, "Подписването беше отказано от потребителя."};
    } catch (const signing::InvalidPinException&) {
        session.pinRefused();
        return {{}, "Грешен PIN код."};
    } catch (const std::exception& e) {
        logLine(LogLevel::Error, "PlsSubmissionExecutor: signing failed — " + escapeControlBytes(e.what()));
        return {{}, std::string("Грешка при подписване: ") + e.what()};
    }
}

// Income number, date and, when the reply named none, the document id from
// the listing of submitted documents. A known id that no row carries gives
// nothing: another filing's receipt would be worse than none.
void completeFromListing(SubmissionResult& result, const std::vector<std::vector<std::string>>& rows) {
    const std::vector<std::string>* match = nullptr;
    if (!result.documentId.empty()) {
        for (const auto& row : rows) {
            if (row.size() > kDocumentIdCell && row[kDocumentIdCell] == result.documentId) {
                match = &row;
                break;
            }
        }
        if (match == nullptr) {
            logLine(LogLevel::Warn,
                    "PlsSubmissionExecutor: no row in results listing for document " + result.documentId);
            return;
        }
    } else if (!rows.empty()) {
        match = &rows.front();
    }
    if (match == nullptr) {
        logLine(LogLevel::Warn, "PlsSubmissionExecutor: no rows in results listing for the new submission");
        return;
    }
    const std::vector<std::string>& row = *match;
    if (row.size() > kIncomeNumberCell) {
        result.incomeNumber = row[kIncomeNumberCell];
    }
    if (row.size() > kIncomeDateCell) {
        result.submissionDate = row[kIncomeDateCell];
    }
    if (result.documentId.empty() && row.size() > kDocumentIdCell) {
        result.documentId = row[kDocumentIdCell];
    }
    logLine(LogLevel::Info,
            escapeControlBytes("PlsSubmissionExecutor: matched row income=" + result.incomeNumber +
                               " date=" + result.submissionDate + " docId=" + result.documentId));
}

}  // namespace

SubmissionResult PlsSubmissionExecutor::submit(NapSession& session,
                                               const operations::ISubmission& declaration,
                                               const operations::IPortalHandler& handler,
                                               const std::string& filePath,
                                               const operations::ParamMap& params) {
    SubmissionResult result;
    const std::optional<ServiceLink> link = session.prepareFromParams(handler, params);
    if (!link) {
        return failed(result, session.lastError());
    }
    if (session.signer() == nullptr) {
        logLine(LogLevel::Error, "PlsSubmissionExecutor: NapSession has no signer");
        return failed(result, "Не е инициализиран signer за сесията.");
    }
    if (session.identity().certificateId.empty()) {
        return failed(result, "Не е избран сертификат (certificateId is empty).");
    }
    bool tooLarge = false;
    const std::optional<std::vector<std::uint8_t>> bytes = readDeclarationFile(filePath, &tooLarge);
    if (tooLarge) {
        return failed(result, "Файлът е по-голям от " + std::to_string(platform::kMaxWholeFileMiB) +
                                  " MiB: " + filePath);
    }
    if (!bytes) {
        return failed(result, "Файлът не може да бъде прочетен: " + filePath);
    }
    // Checked before the mark goes, so a file of only a mark is filed empty.
    if (bytes->empty()) {
        return failed(result, "Файлът е празен: " + filePath);
    }
    const std::vector<std::uint8_t> content = normalizeCrlf(*bytes);
    const std::vector<std::uint8_t> compressed = http::gzipCompress(content.data(), content.size());
    if (compressed.empty()) {
        return failed(result, "Компресирането (gzip) на файла не успя.");
    }
    const Signature signature = signForPortal(session, content);
    if (!signature.error.empty()) {
        return failed(result, signature.error);
    }

    const std::string fileName = declaration.uploadFileName(filePath);
    const std::optional<std::int32_t> month = paramInt(params, "month");
    const std::int32_t year = paramInt(params, "year").value_or(currentLocalYear());
    http::FormFields form = {
        {"pfilename", fileName},
        {"pyear", std::to_string(year)},
        {"pdata", base64Encode(compressed)},
        {"psign", base64Encode(signature.bytes)},
        {"signerId", "5"},
    };
    for (const auto& [name, value] :
         declaration.extraFormFields(month, operations::paramOr(params, "iban", ""))) {
        form[name] = value;
    }
    const std::string url = declaration.uploadUrl(*link);

    logLine(LogLevel::Info, "PlsSubmissionExecutor: POST " + escapeControlBytes(url) +
                                " (file=" + escapeControlBytes(fileName) + ", year=" + std::to_string(year) +
                                (month ? ", month=" + std::to_string(*month) : std::string()) +
                                ", pdata=" + std::to_string(form["pdata"].size()) + " chars" +
                                ", psign=" + std::to_string(form["psign"].size()) + " chars)");
    logLine(LogLevel::Info,
            "PlsSubmissionExecutor: cookies in jar [" + cookieNames(session.cookieJarText()) + "]");
    const PortalResponse response = session.httpPostForm(url, form, PortalPageHeaders);

    // Read by its charset: a refusal in windows-1251 must still read as one,
    // and the texts go into UTF-8 answers.
    const std::string page =
        http::bodyAsUtf8(response.body, http::findHeader(response.headers, "Content-Type").value_or(""));
    logLine(LogLevel::Info, "PlsSubmissionExecutor: response HTTP " + std::to_string(response.status) +
                                " (body=" + std::to_string(response.body.size()) +
                                "B): " + loggableText(page, kLogPreviewBytes));
    result.rawBody = page;
    result.rawBodyContentType = "text/html; charset=utf-8";
    result.rawBodyUrl = url;

    const std::string pageText = http::htmlToText(page);
    if (!isSuccess(response.status)) {
        std::string message = "HTTP " + std::to_string(response.status) + " при подаване към НАП";
        if (!pageText.empty()) {
            message += ": " + utf8SafePrefix(pageText, kMessageBytes);
        }
        return failed(result, message);
    }
    result.documentId = replyPid(page);
    switch (classifyPlsReply(page)) {
        case PlsReplyVerdict::Failed:
            return failed(result, utf8SafePrefix(pageText, kMessageBytes));
        case PlsReplyVerdict::Accepted:
            result.success = true;
            break;
        case PlsReplyVerdict::Unrecognised:
            if (result.documentId.empty()) {
                return failed(result, "Неразпознат отговор от НАП (без pid и без съобщение).");
            }
            result.success = true;
            break;
    }

    const std::string eik = operations::paramOr(params, "eik", "");
    if (!session.prepareFor(handler, eik, 0)) {
        logLine(LogLevel::Warn, "PlsSubmissionExecutor: results-context prepareFor failed: " +
                                    escapeControlBytes(session.lastError()));
        return result;
    }
    session.sleep(kListingDelay);
    operations::ResultsQuery query(eik, year, month);
    query.documentId = result.documentId;
    const operations::InquiryResult listing = declaration.fetchResults(&session, query);
    logLine(LogLevel::Info, "PlsSubmissionExecutor: post-submit fetchResults returned " +
                                std::to_string(listing.rows.size()) + " row(s)");
    completeFromListing(result, listing.rows);
    return result;
}

}  // namespace velk::core::infra::portal
