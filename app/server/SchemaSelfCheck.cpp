#include "server/SchemaSelfCheck.h"

#include <exception>
#include <memory>
#include <optional>

#include "operations/IInquiry.h"
#include "operations/ISubmission.h"
#include "operations/OperationRecords.h"
#include "operations/ResultProjection.h"

namespace velk::server {

namespace {

using core::operations::FieldType;
using core::operations::IVelkOperation;
using core::operations::OperationKind;
using core::operations::ParamMap;
using core::operations::ResultSchema;
using core::operations::SchemaField;
using nlohmann::json;

// The fixture of the operation projected as test mode would answer. Empty, with
// an issue added, when the operation does not implement the interface its kind
// names: the kind is the operation's own word, so it is checked, never trusted.
std::optional<json> projectedFixture(const std::string& typeId, const IVelkOperation& operation,
                                     const ResultSchema& schema, std::vector<std::string>& issues) {
    const ParamMap noParams;
    const std::int32_t kind = operation.kind();
    if (kind == static_cast<std::int32_t>(OperationKind::Submission)) {
        if (const auto* submission = dynamic_cast<const core::operations::ISubmission*>(&operation)) {
            return core::operations::projectSubmissionResult(schema, submission->testFixture(noParams));
        }
        issues.push_back(typeId + ": kind " + std::to_string(kind) +
                         " but the operation is not a submission");
        return std::nullopt;
    }
    if (const auto* inquiry = dynamic_cast<const core::operations::IInquiry*>(&operation)) {
        return core::operations::projectInquiryResult(schema, inquiry->testFixture(noParams));
    }
    issues.push_back(typeId + ": kind " + std::to_string(kind) + " but the operation is not an inquiry");
    return std::nullopt;
}

}  // namespace

std::vector<std::string> SchemaSelfCheck::checkFixtures(const core::operations::OperationRegistry& registry) {
    std::vector<std::string> issues;
    for (const auto& descriptor : registry.list()) {
        const std::string& typeId = descriptor.typeId;
        const std::unique_ptr<IVelkOperation> operation = registry.create(typeId);
        if (!operation) {
            issues.push_back(typeId + ": registry returned null factory");
            continue;
        }
        try {
            // Inside the guard as well: a schema that cannot be built is this operation's issue, not the end
            // of the check.
            const ResultSchema schema = operation->resultSchema();
            if (schema.fields.empty()) {
                continue;  // answers with the generic envelope, which has no typed shape to hold
            }
            if (const auto projected = projectedFixture(typeId, *operation, schema, issues)) {
                checkProjectedValue(typeId, schema.fields, *projected, issues);
            }
        } catch (const std::exception& e) {
            issues.push_back(typeId + ": testFixture/project threw \u2014 " + e.what());
        }
    }
    return issues;
}

void SchemaSelfCheck::checkProjectedValue(const std::string& path, const std::vector<SchemaField>& fields,
                                          const json& value, std::vector<std::string>& issues) {
    if (!value.is_object()) {
        issues.push_back(path + ": expected JSON object, got " + value.type_name());
        return;
    }
    for (const auto& field : fields) {
        const std::string fieldPath = path + "." + field.name;
        const auto member = value.find(field.name);
        if (member == value.end()) {
            issues.push_back(fieldPath + ": field missing from projected fixture");
        } else if (member->is_null()) {
            if (!field.nullable) {
                issues.push_back(fieldPath +
                                 ": projected value is null but schema marks the field non-nullable");
            }
        } else if (field.type == FieldType::StringArray) {
            // A list of texts has no inner shape to check.
        } else if (field.type == FieldType::ObjectArray) {
            if (member->is_array() && !member->empty()) {
                checkProjectedValue(fieldPath + "[0]", field.fields, member->front(), issues);
            } else {
                issues.push_back(fieldPath +
                                 ": testFixture must populate at least one item; got empty array");
            }
        } else if (!field.nullable && isTypeFallback(*member, field)) {
            issues.push_back(
                fieldPath +
                ": projected value is the type-fallback (likely a missing column id in testFixture)");
        }
    }
}

bool SchemaSelfCheck::isTypeFallback(const json& value, const SchemaField& field) {
    switch (field.type) {
        case FieldType::Integer:
            // A JSON 0.0 compares equal to 0, so the JSON type is checked first.
            return value.is_number_integer() && value == 0;
        case FieldType::Number:
            return value.is_number_float() && value.get<double>() == 0.0;
        case FieldType::Boolean:
            return value.is_boolean() && !value.get<bool>();
        case FieldType::StringArray:
        case FieldType::ObjectArray:
            return value.is_array() && value.empty();
        case FieldType::String:
        case FieldType::Date:
        case FieldType::DateTime:
        case FieldType::Enum:
            return value.is_string() && value.get_ref<const std::string&>().empty();
    }
    return false;  // a type value outside the enumeration has no fallback
}

}  // namespace velk::server
