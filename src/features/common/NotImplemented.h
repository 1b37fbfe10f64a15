#pragma once

#include "operations/OperationRecords.h"

namespace velk::core::features {

// What an operation whose work is not built yet answers, so nothing pretends
// to work: status "error" with "не е реализирано", or success false with it.
operations::InquiryResult notImplementedInquiry();
operations::SubmissionResult notImplementedSubmission();
operations::InputCheck notImplementedInputCheck();

}  // namespace velk::core::features
