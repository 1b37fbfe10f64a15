#include "operations/ISubmission.h"

#include "common/TextUtils.h"
#include "operations/IPortalHandler.h"
#include "operations/PlsUrls.h"
#include "operations/TestFixtures.h"

namespace velk::core::operations {

namespace {

bool isDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Split textually: paths come from Windows-minded callers, and '\' is no
// separator to std::filesystem on Linux.
std::string fileNamePart(const std::string& path) {
    const std::size_t separator = path.find_last_of("\\/");
    if (separator != std::string::npos) {
        return path.substr(separator + 1);
    }
    if (path.size() >= 2 && path[1] == ':' && isDriveLetter(path[0])) {
        return path.substr(2);
    }
    return path;
}

// Every declaration is also a portal handler; one that is not falls back on
// the module named by the link alone.
std::string plsModuleFor(const ISubmission& submission, const ServiceLink& link) {
    if (const auto* handler = dynamic_cast<const IPortalHandler*>(&submission)) {
        return handler->plsModuleFor(link);
    }
    return plsModuleOf(link, std::string());
}

}  // namespace

std::int32_t ISubmission::kind() const {
    return static_cast<std::int32_t>(OperationKind::Submission);
}

std::string ISubmission::category() const {
    return "Декларации";
}

std::int32_t ISubmission::inputKind() const {
    return static_cast<std::int32_t>(InputKind::File);
}

bool ISubmission::requiresFilePath() const {
    return true;
}

SubmissionResult ISubmission::testFixture(const ParamMap& /*params*/) const {
    return demoSubmissionResult();
}

std::string ISubmission::uploadUrl(const ServiceLink& link) const {
    return plsBaseUrl() + "!" + plsModuleFor(*this, link) + ".upload_file";
}

std::string ISubmission::showResultUrl(const std::string& pid, const ServiceLink& link) const {
    return plsBaseUrl() + plsModuleFor(*this, link) + ".showResult?pid=" + percentEncode(pid);
}

std::string ISubmission::listDocumentsUrl(const ServiceLink& link) const {
    const std::string url = linkUrlProperty(link);
    return url.empty() ? std::string() : plsBaseUrl() + url;
}

std::int32_t ISubmission::reservedInt() const {
    return 0;
}

bool ISubmission::reservedFlagA() const {
    return false;
}

bool ISubmission::reservedFlagB() const {
    return false;
}

std::vector<FormField> ISubmission::extraFormFields(std::optional<std::int32_t> /*month*/,
                                                    const std::string& /*iban*/) const {
    return {};
}

std::string ISubmission::uploadFileName(const std::string& path) const {
    return fileNamePart(path);
}

InquiryResult ISubmission::fetchResults(infra::portal::NapSession* /*session*/,
                                        const ResultsQuery& /*query*/) const {
    InquiryResult result;
    result.metadata["status"] = "not_implemented";
    result.metadata["declaration"] = typeId();
    result.metadata["message"] =
        "Справката за подадени документи все още не е имплементирана за тази декларация.";
    return result;
}

bool ISubmission::reservedFlagC() const {
    return true;
}

}  // namespace velk::core::operations
