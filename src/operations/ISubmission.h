#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/PortalRecords.h"
#include "operations/IVelkOperation.h"
#include "operations/NapSessionFwd.h"
#include "operations/OperationRecords.h"

namespace velk::core::operations {

using FormField = std::pair<std::string, std::string>;

// A filing: it reads a file or folder, signs it and sends it to the agency.
// Failures come back as success false with an errorMessage.
class ISubmission : public IVelkOperation {
public:
    std::int32_t kind() const final;
    std::string category() const override;

    // An InputKind.
    virtual std::int32_t inputKind() const;
    // When true the engine refuses to submit without a file path.
    virtual bool requiresFilePath() const;
    virtual std::vector<ParamSpec> params() const = 0;
    virtual InputCheck validateInput(const std::string& path) const = 0;
    // filePath is empty when the request named none.
    virtual SubmissionResult submit(infra::portal::NapSession* session, const std::string& filePath,
                                    const ParamMap& params) const = 0;
    // The fixed demo receipt; the params are ignored.
    virtual SubmissionResult testFixture(const ParamMap& params) const;
    virtual std::string documentTypeCode() const = 0;
    // PLS upload address of the module the link names.
    virtual std::string uploadUrl(const ServiceLink& link) const;
    // PLS page showing the result of the filing with the agency's document id pid.
    virtual std::string showResultUrl(const std::string& pid, const ServiceLink& link) const;
    // PLS listing of the submitted documents; empty when the link names none.
    virtual std::string listDocumentsUrl(const ServiceLink& link) const;
    virtual std::int32_t reservedInt() const;
    virtual bool reservedFlagA() const;
    virtual bool reservedFlagB() const;
    // Extra fields of the PLS upload form.
    virtual std::vector<FormField> extraFormFields(std::optional<std::int32_t> month,
                                                   const std::string& iban) const;
    // The file name a PLS upload announces.
    virtual std::string uploadFileName(const std::string& path) const;
    // Listing of the taxpayer's submitted documents after a filing.
    virtual InquiryResult fetchResults(infra::portal::NapSession* session, const ResultsQuery& query) const;
    virtual bool reservedFlagC() const;
};

}  // namespace velk::core::operations
