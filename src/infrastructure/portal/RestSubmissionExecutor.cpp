#include "infrastructure/portal/RestSubmissionExecutor.h"

#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <utility>

#include "common/CodeTables.h"
#include "common/TextUtils.h"
#include "infrastructure/http/HttpClient.h"
#include "infrastructure/portal/DeclarationFile.h"
#include "infrastructure/portal/NapRestApiClient.h"
#include "infrastructure/portal/NapSession.h"
#include "infrastructure/portal/TaxpayerPinType.h"
#include "infrastructure/signing/ISigner.h"
#include "infrastructure/signing/InvalidPinException.h"

namespace velk::core::infra::portal {

namespace {

using operations::ParamMap;
using operations::SubmissionResult;

SubmissionResult failed(std::string message) {
    SubmissionResult result;
    result.errorMessage = std::move(message);
    return result;
}

std::string fileNamePart(const std::string& path) {
    const std::size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

// The first of "eik" (even empty) and "taxpayerPin" that is present, else
// the sender's own identifier.
std::string taxpayerPinOf(const ParamMap& params, const SessionIdentity& identity) {
    if (const auto eik = params.find("eik"); eik != params.end()) {
        return eik->second;
    }
    if (const auto pin = params.find("taxpayerPin"); pin != params.end()) {
        return pin->second;
    }
    return identity.identifier;
}

// The engine writes a JSON number with six fraction digits ("2025.000000");
// the agency expects the year's digits.
std::string yearText(const std::string& text) {
    const std::size_t point = text.find('.');
    if (point == std::string::npos || point == 0 ||
        text.find_first_not_of('0', point + 1) != std::string::npos ||
        text.find_first_not_of("0123456789") != point) {
        return text;
    }
    return text.substr(0, point);
}

// A success status whose answer names no document: the agency may have taken
// the filing, so the user is told to look before filing again.
std::string withUnconfirmedNotice(std::string message, std::int32_t status) {
    if (!message.empty()) {
        message += " — ";
    }
    message += "НАП отговори с код за успех (HTTP " + std::to_string(status) +
               "), но без разчетим номер на документ: декларацията може да е приета. Проверете подадените "
               "документи в портала на НАП, преди да подадете отново.";
    return message;
}

void addTaxPeriod(RestSubmitRequest& request, const ParamMap& params) {
    request.taxPeriodFrom = operations::paramOr(params, "taxPeriodFrom", "");
    request.taxPeriodTo = operations::paramOr(params, "taxPeriodTo", "");
    if (request.taxPeriodFrom.empty() || request.taxPeriodTo.empty()) {
        const std::optional<std::int32_t> month = parseInt32(operations::paramOr(params, "month", ""));
        if (month && *month >= 1 && *month <= 12) {
            const std::string twoDigits = (*month < 10 ? "0" : "") + std::to_string(*month);
            request.taxPeriodFrom = twoDigits;
            request.taxPeriodTo = twoDigits;
        }
    }
    request.year = yearText(operations::paramOr(params, "year", ""));
}

}  // namespace

RestSubmissionExecutor::RestSubmissionExecutor(NapSession& session, signing::ISigner& signer,
                                               std::string submitUrl, std::string resultUrl,
                                               std::string apiKey, RestSubmissionConfig config)
    : session_(session),
      signer_(signer),
      submitUrl_(std::move(submitUrl)),
      resultUrl_(std::move(resultUrl)),
      apiKey_(std::move(apiKey)),
      config_(config) {}

SubmissionResult RestSubmissionExecutor::submitFile(const std::string& path, const ParamMap& params) {
    RestFileEntry entry;
    entry.path = path;
    entry.fileDocumentType = config_.fileDocumentType;
    return submit({entry}, params);
}

SubmissionResult RestSubmissionExecutor::submit(const std::vector<RestFileEntry>& files,
                                                const ParamMap& params) {
    if (files.empty()) {
        return failed("No files to submit");
    }
    const SessionIdentity& identity = session_.identity();
    if (identity.certificateId.empty()) {
        return failed("No certificate selected");
    }

    RestSubmitRequest request;
    request.userCertificateDer = signer_.getCertificateDer(identity.certificateId);
    for (const RestFileEntry& entry : files) {
        // A file-system error other than absence (a folder it may not read)
        // leaves as an exception, which the engine reports.
        if (entry.path.empty() || !std::filesystem::exists(entry.path)) {
            return failed("File not found: " + entry.path);
        }
        std::vector<std::uint8_t> content = entry.content;
        if (content.empty()) {
            bool tooLarge = false;
            content = readDeclarationFile(entry.path, &tooLarge).value_or(std::vector<std::uint8_t>());
            if (tooLarge) {
                return failed("File is larger than " + std::to_string(platform::kMaxWholeFileMiB) +
                              " MiB: " + entry.path);
            }
        }
        if (content.empty()) {
            return failed("Cannot read file or file is empty: " + entry.path);
        }
        signing::Bytes signature;
        try {
            // The session's PIN: a token cannot be opened with an empty one.
            signature = signer_.signData(content, identity.certificateId, session_.pin());
        } catch (const signing::InvalidPinException& e) {
            session_.pinRefused();
            return failed(std::string("Signing failed: ") + e.what());
        } catch (const std::exception& e) {
            return failed(std::string("Signing failed: ") + e.what());
        }
        if (signature.empty()) {
            return failed("Empty signature (user may have cancelled)");
        }
        RestSubmitFile file;
        file.fileName = fileNamePart(entry.path);
        file.fileType = static_cast<ExportFormat>(config_.fileFormat);
        file.fileSize = static_cast<std::uint32_t>(content.size());
        file.fileContent = std::move(content);
        file.pkcs7Signature = std::move(signature);
        file.fileDocumentType = static_cast<DocumentType>(entry.fileDocumentType);
        file.numRecords = static_cast<std::uint32_t>(entry.numRecords);
        request.files.push_back(std::move(file));
    }

    request.serviceDocumentType = static_cast<DocumentFamily>(config_.serviceDocumentType);
    request.userPin = identity.identifier;
    request.userPinType = static_cast<IdentifierType>(identity.identifierType);
    request.taxpayerPin = taxpayerPinOf(params, identity);
    request.taxpayerPinType = request.taxpayerPin == identity.identifier
                                  ? request.userPinType
                                  : taxpayerPinType(session_.listTaxpayers(), request.taxpayerPin);
    if (config_.withTaxPeriod) {
        addTaxPeriod(request, params);
    }
    const std::string fund = operations::paramOr(params, "fund", "");
    request.insuranceFund = fund == "true" || fund == "1" ? 1 : 0;

    const std::unique_ptr<http::HttpClient> client = http::HttpClient::forAgent();
    NapRestApiClient api(client.get(), submitUrl_, resultUrl_, apiKey_);
    const RestApiResult answer = api.submit(request);

    SubmissionResult result;
    result.success = answer.ok;
    result.documentId = answer.documentId;
    result.incomeNumber = answer.entryNumber;
    result.submissionDate = answer.entryDate;
    // May quote an error page of any charset; the message goes into JSON.
    result.errorMessage = toValidUtf8(answer.errorMessage);
    // The agency's own refusal, read from its answer, stands as it is.
    const bool unreadable = answer.errorMessage.empty() || answer.errorMessage.starts_with("json parse: ");
    if (!answer.ok && answer.httpStatus >= 200 && answer.httpStatus <= 299 && unreadable) {
        result.errorMessage = withUnconfirmedNotice(std::move(result.errorMessage), answer.httpStatus);
    }
    return result;
}

}  // namespace velk::core::infra::portal
