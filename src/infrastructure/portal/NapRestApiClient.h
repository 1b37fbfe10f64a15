#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/CodeTables.h"
#include "common/JsonUtils.h"
#include "infrastructure/http/HttpClient.h"
#include "infrastructure/http/HttpResponse.h"
#include "infrastructure/portal/RestApiResult.h"
#include "infrastructure/portal/RestSubmitRequest.h"

namespace velk::core::infra::portal {

// The agency's REST API for declarations: builds the JSON requests, posts them
// with the sender's API key over the caller's client and reads the answers.
// Signs nothing itself. A text that is not valid UTF-8 in a request cannot be
// written as JSON: the call then throws the JSON library's type error.
class NapRestApiClient {
public:
    NapRestApiClient(http::HttpClient* http, std::string submitUrl, std::string statusUrl,
                     std::string apiKey);

    RestApiResult submit(const RestSubmitRequest& request);
    RestApiResult checkStatus(const std::string& documentId, const std::string& taxpayerPin,
                              IdentifierType taxpayerPinType, const std::string& userPin,
                              IdentifierType userPinType,
                              const std::vector<std::uint8_t>& userCertificateDer);

    // HTTP response to result: ok for a 2xx answer with a documentId.
    static RestApiResult parseRestResponse(const http::HttpResponse& response);
    static std::string jsonToText(const json& value);
    static std::string jsonFieldText(const json& object, const std::string& name);

private:
    http::HttpResponse send(const std::string& url, const json& body);

    http::HttpClient* http_;
    std::string submitUrl_;
    std::string statusUrl_;
    std::string apiKey_;
};

}  // namespace velk::core::infra::portal
