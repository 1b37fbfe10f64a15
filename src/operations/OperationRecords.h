#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velk::core::operations {

struct ResultColumn {
    std::string id;  // matched against the schema's field names
    std::string label;
};

// What an inquiry returns: a table of text cells and scalar metadata. By
// convention "status" is set once a run has finished, and "error" on failure.
struct InquiryResult {
    std::vector<ResultColumn> columns;
    std::vector<std::vector<std::string>> rows;
    std::unordered_map<std::string, std::string> metadata;
    std::string rawBody;
    std::string rawBodyContentType;
    std::string rawBodyUrl;
};

// What a submission returns: the agency's receipt or why it failed.
struct SubmissionResult {
    bool success = false;
    std::string incomeNumber;
    std::string documentId;
    std::string submissionDate;
    std::string errorMessage;
    std::vector<std::string> nativeErrors;
    std::string rawBody;
    std::string rawBodyContentType;
    std::string rawBodyUrl;
};

enum class ParamType : std::int32_t {
    String = 0,
    Integer = 1,
    Decimal = 2,
    Date = 3,
    Month = 4,
    Year = 5,
    Boolean = 6,
    Eik = 7,
    Enum = 8,
};

// Wire name of a parameter type; values outside the enumeration are "string".
std::string_view paramTypeName(ParamType type);

struct ParamSpec {
    std::string name;
    std::string label;
    ParamType type = ParamType::String;
    bool required = false;
    std::optional<std::string> defaultValue;
    std::vector<std::string> allowedValues;
    std::string description;
};

// A request's parameters as texts; numbers arrive with six fraction digits
// ("2025.000000"), booleans as "true"/"false".
using ParamMap = std::unordered_map<std::string, std::string>;

struct InputCheck {
    bool ok = false;
    std::vector<std::string> errors;
};

struct ResultsQuery {
    std::string eik;
    std::optional<int> year;
    std::optional<int> month;
    // The document a caller looks for; a paged listing reads further pages
    // until it shows up. Empty: the first page is enough.
    std::string documentId;

    ResultsQuery() = default;
    explicit ResultsQuery(std::string eik, std::optional<int> year = std::nullopt,
                          std::optional<int> month = std::nullopt)
        : eik(std::move(eik)), year(year), month(month) {}
};

enum class OperationKind : std::int32_t { Submission = 0, Inquiry = 1 };
enum class InputKind : std::int32_t { File = 0, Folder = 1 };

std::string_view inputKindName(InputKind kind);

struct OperationDescriptor {
    std::string typeId;
    std::string displayName;
    std::string category;
    std::string featureGroupId;
    std::string featureGroupName;
    std::int32_t kind = static_cast<std::int32_t>(OperationKind::Inquiry);
    bool requiresSubmissionToken = false;
};

struct OperationSummary {
    std::string typeId;
    std::string displayName;
    std::string category;
    bool isSubmission = false;
    bool requiresSubmissionToken = false;
};

struct ExecuteResult {
    bool success = false;
    std::string error;
    std::string json;  // the projected result, compact; empty when the run did not get that far
};

using ProgressCallback = std::function<void(std::int32_t percent, const std::string& stage)>;

// The stored value (even an empty one) when the key is present, else the fallback.
std::string paramOr(const ParamMap& params, const std::string& key, const std::string& fallback);

// Marks the result as failed with the message and returns a copy of it.
InquiryResult errorResult(InquiryResult& result, const std::string& message);

}  // namespace velk::core::operations
