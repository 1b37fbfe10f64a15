#include "operations/OperationRecords.h"

namespace velk::core::operations {

std::string_view paramTypeName(ParamType type) {
    switch (type) {
        case ParamType::String:
            return "string";
        case ParamType::Integer:
            return "integer";
        case ParamType::Decimal:
            return "decimal";
        case ParamType::Date:
            return "date";
        case ParamType::Month:
            return "month";
        case ParamType::Year:
            return "year";
        case ParamType::Boolean:
            return "boolean";
        case ParamType::Eik:
            return "eik";
        case ParamType::Enum:
            return "enum";
    }
    // A value cast in from outside the enumeration is published as free text.
    return "string";
}

std::string_view inputKindName(InputKind kind) {
    return kind == InputKind::Folder ? "folder" : "file";
}

std::string paramOr(const ParamMap& params, const std::string& key, const std::string& fallback) {
    const auto it = params.find(key);
    return it != params.end() ? it->second : fallback;
}

InquiryResult errorResult(InquiryResult& result, const std::string& message) {
    result.metadata["status"] = "error";
    result.metadata["error"] = message;
    return result;
}

}  // namespace velk::core::operations
