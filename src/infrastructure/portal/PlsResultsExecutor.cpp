#include "infrastructure/portal/PlsResultsExecutor.h"

#include <array>
#include <exception>
#include <optional>

#include "common/AgencyEndpoints.h"
#include "common/JsonUtils.h"
#include "common/Logger.h"
#include "common/TextUtils.h"
#include "infrastructure/http/HtmlHelpers.h"
#include "infrastructure/http/ResponseText.h"
#include "infrastructure/portal/NapSession.h"
#include "infrastructure/portal/PlsListing.h"
#include "infrastructure/portal/PlsPageScan.h"

namespace velk::core::infra::portal {

namespace {

using operations::InquiryResult;
using operations::ResultsQuery;

// The listing is read in pages of this many documents; a document sought is
// looked for on at most kMaxAjaxPages of them.
constexpr std::size_t kAjaxPageLength = 100;
constexpr std::size_t kMaxAjaxPages = 10;

// The listing's columns in the DataTables request, in their order.
constexpr std::array<const char*, 9> kAjaxColumns = {"",       "UIN",      "PERIOD", "INNO",      "INNODATE",
                                                     "SIGNER", "USERINFO", "DOCID",  "HAS_RESULT"};

bool isSuccess(std::int32_t status) {
    return status >= 200 && status <= 299;
}

std::string httpFailure(std::int32_t status) {
    return "HTTP " + std::to_string(status) + " при четене на списъка с подадени документи.";
}

// Names go on the wire as written here, brackets and all; the client escapes
// the values only.
http::FormFields ajaxListingForm(std::size_t start) {
    http::FormFields form = {
        {"draw", "1"},         {"start", std::to_string(start)}, {"length", std::to_string(kAjaxPageLength)},
        {"search[value]", ""}, {"search[regex]", "false"},       {"choice", "1"},
        {"searchstr", ""},
    };
    for (std::size_t i = 0; i < kAjaxColumns.size(); ++i) {
        const std::string column = "columns[" + std::to_string(i) + "]";
        form[column + "[data]"] = kAjaxColumns[i];
        form[column + "[name]"] = "";
        form[column + "[searchable]"] = "true";
        form[column + "[orderable]"] = "false";
        form[column + "[search][value]"] = "";
        form[column + "[search][regex]"] = "false";
    }
    return form;
}

// A member as text only when it is a JSON string: a number in DOCID or INNO
// gives an empty cell.
std::string stringMember(const json& object, const char* name) {
    const auto it = object.find(name);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::string numberText(const std::optional<std::int32_t>& value) {
    return value ? std::to_string(*value) : std::string();
}

bool differs(const std::optional<int>& wanted, const std::optional<std::int32_t>& found) {
    return wanted && found && *wanted != *found;
}

InquiryResult startedListing(std::string body, std::string contentType, std::string url) {
    InquiryResult result;
    result.columns = plsListingColumns();
    result.rawBody = std::move(body);
    result.rawBodyContentType = std::move(contentType);
    result.rawBodyUrl = std::move(url);
    return result;
}

// What one page of the AJAX listing held.
struct AjaxPage {
    std::size_t documents = 0;  // elements of its "data" array
    bool holdsSought = false;   // one of them is the query's documentId
};

AjaxPage addAjaxRows(InquiryResult& result, const json& reply, const ResultsQuery& query) {
    AjaxPage page;
    if (!reply.is_object()) {
        return page;
    }
    const auto data = reply.find("data");
    if (data == reply.end() || !data->is_array()) {
        return page;
    }
    page.documents = data->size();
    for (const json& element : *data) {
        if (!element.is_object()) {
            continue;
        }
        // Sought among all documents: one outside the period is no reason
        // to read further.
        if (!query.documentId.empty() && stringMember(element, "DOCID") == query.documentId) {
            page.holdsSought = true;
        }
        const PlsPeriod period = parsePlsPeriod(stringMember(element, "PERIOD"));
        if (differs(query.year, period.year) || differs(query.month, period.month)) {
            continue;
        }
        std::string companyId = stringMember(element, "UIN");
        result.rows.push_back({companyId.empty() ? query.eik : std::move(companyId), numberText(period.month),
                               numberText(period.year), stringMember(element, "INNO"),
                               stringMember(element, "INNODATE"), stringMember(element, "DOCID")});
    }
    return page;
}

void addHtmlRows(InquiryResult& result, const std::string& page, const ResultsQuery& query) {
    for (const std::string& row : http::htmlTableRows(page)) {
        const std::vector<std::string> cells = http::htmlTableCells(row);
        if (cells.size() < 3) {
            continue;
        }
        std::string yearText = cells.size() > 5 ? http::htmlToText(cells[5]) : std::string();
        if (query.year && !yearText.empty()) {
            const std::optional<std::int32_t> year = parseInt32(yearText);
            if (year && *year != *query.year) {
                continue;
            }
        }
        result.rows.push_back({query.eik, std::string(), std::move(yearText), http::htmlToText(cells[1]),
                               http::htmlToText(cells[2]), rowDocumentId(row)});
    }
}

}  // namespace

InquiryResult PlsResultsExecutor::fetchResultsAjax(NapSession& session,
                                                   const operations::IPortalHandler& declaration,
                                                   const std::string& page, const ResultsQuery& query) {
    if (!session.prepareFor(declaration, query.eik, 0)) {
        return listingError(session.lastError());
    }
    const std::string url = std::string(AgencyEndpoints::kPortalBaseUrl) + "/pls/pub/" + page;
    const http::HttpHeaders headers = {
        {"Accept", "application/json, text/javascript, */*; q=0.01"},
        {"X-Requested-With", "XMLHttpRequest"},
    };
    // The first page starts the result and keeps its raw body; a document
    // sought and not yet listed sends the reader on to the next page, until
    // a page comes back short or the cap is reached. A later page that
    // fails ends the reading with its error and the rows read so far.
    InquiryResult result;
    for (std::size_t index = 0; index < kMaxAjaxPages; ++index) {
        const std::size_t start = index * kAjaxPageLength;
        logLine(LogLevel::Info, "PlsResultsExecutor(AJAX): POST " + escapeControlBytes(url) +
                                    (index == 0 ? std::string() : " (start=" + std::to_string(start) + ")"));
        PortalResponse response = session.httpPostForm(url, ajaxListingForm(start), headers);
        if (!isSuccess(response.status)) {
            if (index == 0) {
                return listingError(httpFailure(response.status));
            }
            result.metadata["error"] = httpFailure(response.status);
            return result;
        }
        if (index == 0) {
            result = startedListing(response.body, "application/json", url);
        }
        json reply;
        try {
            reply = parseExternalJson(response.body);
        } catch (const json::exception& e) {
            // The parser quotes what it read, which need not be UTF-8.
            result.metadata["error"] = toValidUtf8(std::string("Невалиден JSON отговор: ") + e.what());
            return result;
        }
        const AjaxPage read = addAjaxRows(result, reply, query);
        if (query.documentId.empty() || read.holdsSought || read.documents < kAjaxPageLength) {
            break;
        }
    }
    result.metadata["count"] = std::to_string(result.rows.size());
    return result;
}

InquiryResult PlsResultsExecutor::fetchResultsHtml(NapSession& session,
                                                   const operations::ISubmission& declaration,
                                                   const operations::IPortalHandler& handler,
                                                   const ResultsQuery& query) {
    const std::optional<ServiceLink> link = session.prepareFor(handler, query.eik, 0);
    if (!link) {
        return listingError(session.lastError());
    }
    const std::string url = declaration.listDocumentsUrl(*link);
    if (url.empty()) {
        return listingError("listDocumentsUrl is empty for handler.");
    }
    logLine(LogLevel::Info, "PlsResultsExecutor(HTML): GET " + escapeControlBytes(url));
    const PortalResponse response = session.httpGet(url);
    if (!isSuccess(response.status)) {
        return listingError(httpFailure(response.status));
    }

    // PLS pages often come in windows-1251; the rows go into UTF-8 results.
    const std::string contentType = http::findHeader(response.headers, "Content-Type").value_or("");
    std::string page = http::bodyAsUtf8(response.body, contentType);
    InquiryResult result = startedListing(page, "text/html; charset=utf-8", url);
    addHtmlRows(result, page, query);
    result.metadata["count"] = std::to_string(result.rows.size());
    return result;
}

}  // namespace velk::core::infra::portal
