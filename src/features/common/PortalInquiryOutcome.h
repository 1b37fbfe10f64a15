#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "operations/OperationRecords.h"

namespace velk::core::features {

// How the portal inquiries report what happened: the failure in the metadata
// ("status" "error" and "error" the message), never by throwing out of run.

bool isHttpSuccess(std::int32_t status);
// "HTTP <status> от <url>"; a failed transfer has status 0.
std::string httpFailureText(std::int32_t status, const std::string& url);

void markFailed(operations::InquiryResult& result, const std::string& message);
// A reply that is not JSON, or a JSON error while reading it: the WARN line
// "<className> parse: <message>" and the error "Parse грешка: <message>".
void markParseFailure(operations::InquiryResult& result, std::string_view className, const std::exception& e);

// Keeps the portal's JSON answer, whatever its status, as the raw body.
void keepJsonReply(operations::InquiryResult& result, std::string body);

}  // namespace velk::core::features
