#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/CodeTables.h"

namespace velk::core::infra::portal {

// One declaration file of a REST submission.
struct RestSubmitFile {
    std::string fileName;  // without folders
    ExportFormat fileType = ExportFormat::Txt;
    std::uint32_t fileSize = 0;  // length of fileContent
    std::vector<std::uint8_t> fileContent;
    std::vector<std::uint8_t> pkcs7Signature;  // detached CMS over fileContent
    DocumentType fileDocumentType = DocumentType::Dec1;
    std::uint32_t numRecords = 0;
};

// A signed declaration for the agency's REST API.
struct RestSubmitRequest {
    DocumentFamily serviceDocumentType = DocumentFamily::Dec1_6;
    std::string taxPeriodFrom;  // the three period texts are sent only when set
    std::string taxPeriodTo;
    std::string year;
    std::uint32_t insuranceFund = 0;
    std::string userPin;  // the sender's identifier
    IdentifierType userPinType = IdentifierType::None;
    std::vector<std::uint8_t> userCertificateDer;
    std::string taxpayerPin;
    IdentifierType taxpayerPinType = IdentifierType::None;
    std::vector<RestSubmitFile> files;
};

}  // namespace velk::core::infra::portal
