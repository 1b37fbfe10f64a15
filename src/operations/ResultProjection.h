#pragma once

#include <string_view>

#include <nlohmann/json.hpp>

#include "operations/OperationRecords.h"
#include "operations/ResultSchema.h"

namespace velk::core::operations {

// Turns the loosely typed results into the typed JSON of the local API. Content
// never makes a projection fail: missing or unconvertible values become null
// (nullable fields) or the type's fallback, and every text comes out valid
// UTF-8 (broken bytes as U+FFFD), so writing the projection never throws.
nlohmann::json projectInquiryResult(const ResultSchema& schema, const InquiryResult& result);
nlohmann::json projectSubmissionResult(const ResultSchema& schema, const SubmissionResult& result);
nlohmann::json genericEnvelope(const InquiryResult& result);
nlohmann::json cellToJson(std::string_view text, const SchemaField& field);

}  // namespace velk::core::operations
