#pragma once

#include <string>

#include "operations/OperationRecords.h"

namespace velk::core::infra::portal {

class NapSession;

// The agency's receipt for a declaration filed through the REST API, by its
// document id: the result inquiries of the REST declarations run this. All
// of it goes into the metadata ("status", "error", "rawBody",
// "rawBodyContentType", "rawBodyUrl", "rawJson", "documentId",
// "incomeNumber", "submittedAt"); failures are reported there, not thrown.
class RestResultInquiry {
public:
    // Reads "documentId" and "eik".
    static operations::InquiryResult run(NapSession& session, const operations::ParamMap& params);
};

// base64 to bytes taken as text; "" for "".
std::string base64ToText(const std::string& base64);

}  // namespace velk::core::infra::portal
