#include "features/odit/OditResultInquiry.h"

#include <algorithm>

#include "common/JsonUtils.h"
#include "common/TextUtils.h"
#include "features/odit/OditFileDeclaration.h"
#include "infrastructure/portal/PlsListing.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::odit {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<OditResultInquiry>();

}  // namespace

std::string OditResultInquiry::typeId() const {
    return "odit_result";
}

std::string OditResultInquiry::displayName() const {
    return "Одиторски файл чл. 3, ал. 17 Н-18 — резултат";
}

std::int32_t OditResultInquiry::backendKind() const {
    return 1;
}

std::int32_t OditResultInquiry::flowKind() const {
    return 3;
}

std::string OditResultInquiry::description() const {
    return "Връща JSON с информацията за подаден одиторски файл по documentId, извлечена от листинга на "
           "портала.";
}

operations::InquiryResult OditResultInquiry::run(infra::portal::NapSession* session,
                                                 const operations::ParamMap& params) const {
    operations::InquiryResult result;
    result.metadata["status"] = "error";
    const std::string documentId = operations::paramOr(params, "documentId", "");
    const std::string eik = operations::paramOr(params, "eik", "");
    if (documentId.empty()) {
        return operations::errorResult(result, "documentId е задължителен");
    }
    if (eik.empty()) {
        return operations::errorResult(result, "eik е задължителен");
    }
    // No year and no month: a filing of any period is found, on whichever
    // page of the listing it stands.
    const OditFileDeclaration declaration;
    operations::ResultsQuery query(eik);
    query.documentId = documentId;
    const operations::InquiryResult listing = declaration.fetchResults(session, query);
    if (const auto error = listing.metadata.find("error"); error != listing.metadata.end()) {
        return operations::errorResult(result, toValidUtf8(error->second));
    }
    for (const auto& row : listing.rows) {
        if (row.size() <= infra::portal::kDocumentIdCell ||
            row[infra::portal::kDocumentIdCell] != documentId) {
            continue;
        }
        json document = json::object();
        for (std::size_t i = 0; i < std::min(listing.columns.size(), row.size()); ++i) {
            document[listing.columns[i].id] = row[i];
        }
        result.metadata["rawBody"] = dumpCompact(document);
        result.metadata["rawBodyContentType"] = "application/json";
        result.metadata["rawBodyUrl"] = listing.rawBodyUrl;
        result.metadata["status"] = "ok";
        return result;
    }
    return operations::errorResult(result, "Документ с ID " + documentId + " не е намерен в листинга.");
}

std::string OditResultInquiry::serviceName() const {
    return "odit-317";
}

std::string OditResultInquiry::reportLinkName() const {
    return "odit-317-1";
}

std::string OditResultInquiry::plsModule() const {
    return "DEC2009.IPUBXMLDEC";
}

std::unique_ptr<operations::ISubmission> OditResultInquiry::pairedSubmission() const {
    return std::make_unique<OditFileDeclaration>();
}

}  // namespace velk::core::features::odit
