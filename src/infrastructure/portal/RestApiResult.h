#pragma once

#include <cstdint>
#include <string>

namespace velk::core::infra::portal {

// The agency's answer to a REST submit or status request.
struct RestApiResult {
    // A 2xx answer with a non-empty documentId.
    bool ok = false;
    std::string documentId;
    std::string entryNumber;
    std::string entryDate;
    std::string base64HtmlResult;
    std::string base64FullHtmlResultInfo;
    std::string base64Result;
    // The response body exactly as received, in every case.
    std::string rawBody;
    // 0 when the transfer failed or nothing was sent.
    std::int32_t httpStatus = 0;
    std::string errorMessage;
};

}  // namespace velk::core::infra::portal
