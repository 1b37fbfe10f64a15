#pragma once

#include <string>

#include "operations/IPortalHandler.h"
#include "operations/ISubmission.h"
#include "operations/OperationRecords.h"

namespace velk::core::infra::portal {

class NapSession;

// Reads the portal's listing of the documents a taxpayer filed through the
// PLS pages: one row per document in the columns of plsListingColumns, plus
// the raw reply and "count". Failures come back as listingError (metadata
// "error", no "status"); nothing is thrown for a bad reply. Stateless.
class PlsResultsExecutor {
public:
    // The DataTables endpoint `page` below the PLS base (the audit file's),
    // 100 documents a page. Rows are narrowed to the query's year and month
    // where a row's period names them. With a documentId in the query, the
    // next pages are read while it is not listed, up to 10 pages in all.
    static operations::InquiryResult fetchResultsAjax(NapSession& session,
                                                      const operations::IPortalHandler& declaration,
                                                      const std::string& page,
                                                      const operations::ResultsQuery& query);

    // The HTML page of the declaration's listDocumentsUrl, narrowed to the
    // query's year where a row names one.
    static operations::InquiryResult fetchResultsHtml(NapSession& session,
                                                      const operations::ISubmission& declaration,
                                                      const operations::IPortalHandler& handler,
                                                      const operations::ResultsQuery& query);
};

}  // namespace velk::core::infra::portal
