#include "features/common/PortalInquiryOutcome.h"

#include "common/Logger.h"
#include "common/TextUtils.h"

namespace velk::core::features {

namespace {

constexpr const char* kJsonContentType = "application/json; charset=utf-8";

}  // namespace

bool isHttpSuccess(std::int32_t status) {
    return status >= 200 && status <= 299;
}

std::string httpFailureText(std::int32_t status, const std::string& url) {
    return "HTTP " + std::to_string(status) + " от " + url;
}

void markFailed(operations::InquiryResult& result, const std::string& message) {
    result.metadata["status"] = "error";
    result.metadata["error"] = message;
}

void markParseFailure(operations::InquiryResult& result, std::string_view className,
                      const std::exception& e) {
    logLine(LogLevel::Warn, std::string(className) + " parse: " + escapeControlBytes(e.what()));
    // The parser quotes what it read, which need not be UTF-8.
    markFailed(result, toValidUtf8(std::string("Parse грешка: ") + e.what()));
}

void keepJsonReply(operations::InquiryResult& result, std::string body) {
    result.rawBody = std::move(body);
    result.rawBodyContentType = kJsonContentType;
    result.metadata["rawBodyContentType"] = kJsonContentType;
}

}  // namespace velk::core::features
