#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/JsonUtils.h"

namespace velk::server {

// The number is what a job stores; the wire name is what the local API shows.
enum class JobStatus : std::int32_t {
    Queued = 0,
    Validating = 1,
    Signing = 2,
    Submitting = 3,
    Polling = 4,
    Completed = 5,
    Failed = 6,
    Cancelled = 7,
};

// "queued", "validating", ... "cancelled"; "unknown" for any other value.
std::string_view jobStatusName(JobStatus status);

// One submission of a declaration folder that the web application asked for.
// Times are wall-clock 100-ns ticks since 1970-01-01 UTC; 0 means not set.
struct SubmissionJob {
    std::string id;
    std::string declarationDir;
    std::string signerEmail;
    std::string iban;
    std::string certificateId;
    JobStatus status = JobStatus::Queued;
    std::int32_t progressPercent = 0;
    std::string progressMessage;
    std::int64_t createdAt = 0;
    std::int64_t startedAt = 0;
    std::int64_t completedAt = 0;
    std::string incomeNumber;
    std::string documentId;
    std::vector<std::string> validationErrors;
    std::vector<std::string> nativeErrors;
    std::string errorMessage;
};

// The job's 16 keys; times as ticksToIsoUtc texts, "" when not set.
core::json jobToJson(const SubmissionJob& job);

// "%Y-%m-%dT%H:%M:%SZ" in UTC, the fraction of the second dropped; "" for 0.
std::string ticksToIsoUtc(std::int64_t ticks);

}  // namespace velk::server
