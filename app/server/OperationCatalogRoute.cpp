#include "server/OperationCatalogRoute.h"

#include <memory>

#include "engine/VelkEngine.h"
#include "operations/IInquiry.h"
#include "operations/ISubmission.h"
#include "operations/OperationRegistry.h"
#include "server/ApiAnswers.h"
#include "server/RouteContext.h"

namespace velk::server {

namespace {

using core::json;
using namespace core::operations;

json paramToJson(const ParamSpec& declared) {
    json param = {{"name", declared.name},
                  {"label", declared.label},
                  {"type", std::string(paramTypeName(declared.type))},
                  {"required", declared.required},
                  {"description", declared.description}};
    if (declared.defaultValue) {
        param["default"] = *declared.defaultValue;
    }
    if (!declared.allowedValues.empty()) {
        param["allowedValues"] = declared.allowedValues;
    }
    return param;
}

json paramsToJson(const std::vector<ParamSpec>& specs) {
    json params = json::array();
    for (const auto& declared : specs) {
        params.push_back(paramToJson(declared));
    }
    return params;
}

json operationToJson(const OperationSummary& summary) {
    json entry = {{"typeId", summary.typeId},     {"displayName", summary.displayName},
                  {"category", summary.category}, {"featureGroupId", ""},
                  {"featureGroupName", ""},       {"isSubmission", summary.isSubmission},
                  {"params", json::array()}};
    // A fresh instance, only for what the summary does not tell.
    const std::unique_ptr<IVelkOperation> op = OperationRegistry::instance().create(summary.typeId);
    if (!op) {
        return entry;
    }
    entry["featureGroupId"] = op->featureGroupId();
    entry["featureGroupName"] = op->featureGroupName();
    if (const auto* inquiry = dynamic_cast<const IInquiry*>(op.get())) {
        entry["params"] = paramsToJson(inquiry->params());
    } else if (const auto* submission = dynamic_cast<const ISubmission*>(op.get())) {
        entry["params"] = paramsToJson(submission->params());
        entry["inputKind"] = std::string(inputKindName(static_cast<InputKind>(submission->inputKind())));
        entry["requiresFilePath"] = submission->requiresFilePath();
    }
    return entry;
}

}  // namespace

void OperationCatalogRoute::build() const {
    json operations = json::array();
    for (const auto& summary : context_.engine().listOperations()) {
        operations.push_back(operationToJson(summary));
    }
    // Exactly what sendJson answers: its body and its content type.
    httplib::Response built;
    sendJson(built, 200, operations);
    body_ = std::move(built.body);
    contentType_ = built.get_header_value("Content-Type");
}

void OperationCatalogRoute::handle(const httplib::Request& /*req*/, httplib::Response& res) const {
    // A build that throws leaves the flag unset: the next call tries again.
    std::call_once(built_, [this] { build(); });
    res.status = 200;
    res.set_content(body_, contentType_);
}

}  // namespace velk::server
