#include "features/common/NotImplemented.h"

namespace velk::core::features {

namespace {

constexpr const char* kNotImplemented = "не е реализирано";

}  // namespace

operations::InquiryResult notImplementedInquiry() {
    operations::InquiryResult result;
    return operations::errorResult(result, kNotImplemented);
}

operations::SubmissionResult notImplementedSubmission() {
    operations::SubmissionResult result;
    result.errorMessage = kNotImplemented;
    return result;
}

operations::InputCheck notImplementedInputCheck() {
    return {false, {kNotImplemented}};
}

}  // namespace velk::core::features
