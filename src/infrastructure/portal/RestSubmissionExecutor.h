#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "operations/OperationRecords.h"

namespace velk::signing {
class ISigner;
}  // namespace velk::signing

namespace velk::core::infra::portal {

class NapSession;

// The codes a REST declaration is filed under.
struct RestSubmissionConfig {
    std::int32_t serviceDocumentType = 0;  // DocumentFamily
    std::int32_t fileDocumentType = 0;     // DocumentType of the file of submitFile
    std::int32_t fileFormat = 0;           // ExportFormat of every file
    bool withTaxPeriod = false;            // send the tax period and the year
};

// One file of a REST declaration.
struct RestFileEntry {
    std::string path;
    std::int32_t fileDocumentType = 0;  // DocumentType
    std::int32_t numRecords = 0;        // 0 when the declaration does not count them
    // The file's bytes when the declaration read them already; empty to have
    // the executor read the file.
    std::vector<std::uint8_t> content;
};

// Files a declaration through the agency's REST API: each file signed as a
// detached CMS with the sender's certificate, all of them in one JSON request
// with the identities of the sender and the taxpayer, sent with the sender's
// API key over a client of its own. Serves one submission: submit hands the
// URLs and the key to the REST client it makes.
class RestSubmissionExecutor {
public:
    RestSubmissionExecutor(NapSession& session, signing::ISigner& signer, std::string submitUrl,
                           std::string resultUrl, std::string apiKey, RestSubmissionConfig config);

    // One file of the configuration's document type.
    operations::SubmissionResult submitFile(const std::string& path, const operations::ParamMap& params);
    // Reads "eik", "taxpayerPin", "taxPeriodFrom", "taxPeriodTo", "month",
    // "year" and "fund". The first file that fails ends the call before
    // anything is sent.
    operations::SubmissionResult submit(const std::vector<RestFileEntry>& files,
                                        const operations::ParamMap& params);

private:
    NapSession& session_;
    signing::ISigner& signer_;
    std::string submitUrl_;
    std::string resultUrl_;
    std::string apiKey_;
    RestSubmissionConfig config_;
};

}  // namespace velk::core::infra::portal
