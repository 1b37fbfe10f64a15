#pragma once

#include <cstdint>
#include <string>

#include "operations/OperationRecords.h"
#include "operations/ResultSchema.h"

namespace velk::core::operations {

// Deterministic demo data for test mode and the fixture check.
std::string demoValue(const SchemaField& field, std::int32_t rowIndex);
InquiryResult demoInquiryResult(const ResultSchema& schema);
SubmissionResult demoSubmissionResult();

}  // namespace velk::core::operations
