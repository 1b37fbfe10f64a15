#include "server/SubmissionJob.h"

#include <ctime>

namespace velk::server {

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;

}  // namespace

std::string_view jobStatusName(JobStatus status) {
    switch (status) {
        case JobStatus::Queued:
            return "queued";
        case JobStatus::Validating:
            return "validating";
        case JobStatus::Signing:
            return "signing";
        case JobStatus::Submitting:
            return "submitting";
        case JobStatus::Polling:
            return "polling";
        case JobStatus::Completed:
            return "completed";
        case JobStatus::Failed:
            return "failed";
        case JobStatus::Cancelled:
            return "cancelled";
    }
    return "unknown";
}

core::json jobToJson(const SubmissionJob& job) {
    core::json out = core::json::object();
    out["id"] = job.id;
    out["status"] = std::string(jobStatusName(job.status));
    out["declarationDir"] = job.declarationDir;
    out["signerEmail"] = job.signerEmail;
    out["iban"] = job.iban;
    out["certificateId"] = job.certificateId;
    out["progressPercent"] = job.progressPercent;
    out["progressMessage"] = job.progressMessage;
    out["createdAt"] = ticksToIsoUtc(job.createdAt);
    out["startedAt"] = ticksToIsoUtc(job.startedAt);
    out["completedAt"] = ticksToIsoUtc(job.completedAt);
    out["incomeNumber"] = job.incomeNumber;
    out["documentId"] = job.documentId;
    out["validationErrors"] = job.validationErrors;
    out["nativeErrors"] = job.nativeErrors;
    out["errorMessage"] = job.errorMessage;
    return out;
}

std::string ticksToIsoUtc(std::int64_t ticks) {
    if (ticks == 0) {
        return {};
    }
    // Integer division truncates toward zero.
    const std::time_t seconds = static_cast<std::time_t>(ticks / kTicksPerSecond);
    std::tm utc{};
    if (gmtime_r(&seconds, &utc) == nullptr) {
        return {};
    }
    char text[64];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(text, length);
}

}  // namespace velk::server
