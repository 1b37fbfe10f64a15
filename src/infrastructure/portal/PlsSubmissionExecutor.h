#pragma once

#include <string>

#include "operations/IPortalHandler.h"
#include "operations/ISubmission.h"
#include "operations/OperationRecords.h"

namespace velk::core::infra::portal {

class NapSession;

// Files one declaration file through the portal's PLS upload page: the file
// with uniform CR LF line ends, gzip-compressed, and a detached CMS over the
// uncompressed content signed for the portal, both posted as base64 form
// fields. The reply page decides the outcome; after an acceptance the
// listing of submitted documents supplies the income number and date.
// Reports every failure in the result and throws none. Stateless.
class PlsSubmissionExecutor {
public:
    // Reads "eik", "year", "month" and "iban". The declaration supplies the
    // upload URL, file name, extra fields and listing.
    static operations::SubmissionResult submit(NapSession& session,
                                               const operations::ISubmission& declaration,
                                               const operations::IPortalHandler& handler,
                                               const std::string& filePath,
                                               const operations::ParamMap& params);
};

}  // namespace velk::core::infra::portal
