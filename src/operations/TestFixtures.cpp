#include "operations/TestFixtures.h"

#include "common/TextUtils.h"

namespace velk::core::operations {

namespace {

const char* const kDemoDate = "2026-01-15";
const char* const kDemoDateTime = "2026-01-15T10:00:00Z";

}  // namespace

std::string demoValue(const SchemaField& field, std::int32_t rowIndex) {
    // Widened so that no row index can overflow the arithmetic.
    const std::int64_t i = rowIndex;
    switch (field.type) {
        case FieldType::String:
            return "demo-" + std::to_string(i);
        case FieldType::Integer:
            return std::to_string(i + 42);
        case FieldType::Number:
            return formatFixed(static_cast<double>(i + 1) * 12.34, 2);
        case FieldType::Date:
            return kDemoDate;
        case FieldType::DateTime:
            return kDemoDateTime;
        case FieldType::Boolean:
            return i % 2 == 0 ? "true" : "false";
        case FieldType::Enum:
            return field.enumValues.empty() ? "demo" : field.enumValues.front();
        default:
            return {};
    }
}

InquiryResult demoInquiryResult(const ResultSchema& schema) {
    InquiryResult result;
    // Only the first table field makes columns; the projection reads every table field from them.
    for (const auto& field : schema.fields) {
        if (field.type != FieldType::ObjectArray) {
            continue;
        }
        for (const auto& member : field.fields) {
            result.columns.push_back({member.name, member.label});
        }
        for (std::int32_t i = 0; i < 2; ++i) {
            std::vector<std::string> row;
            row.reserve(field.fields.size());
            for (const auto& member : field.fields) {
                row.push_back(demoValue(member, i));
            }
            result.rows.push_back(std::move(row));
        }
        break;
    }
    for (const auto& field : schema.fields) {
        if (field.type == FieldType::StringArray || field.type == FieldType::ObjectArray) {
            continue;
        }
        result.metadata[field.name] = demoValue(field, 0);
    }
    // A finished run always reports success in test mode.
    if (const auto it = result.metadata.find("status"); it != result.metadata.end()) {
        it->second = "ok";
    }
    return result;
}

SubmissionResult demoSubmissionResult() {
    SubmissionResult result;
    result.success = true;
    result.incomeNumber = "TEST-202601-12345";
    result.documentId = "DOC-TEST-12345";
    result.submissionDate = kDemoDateTime;
    return result;
}

}  // namespace velk::core::operations
