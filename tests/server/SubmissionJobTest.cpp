#include "server/SubmissionJob.h"

#include <gtest/gtest.h>

#include <vector>

namespace velk::server {
namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;

TEST(JobStatusName, EveryValue) {
    const std::vector<std::pair<std::int32_t, std::string_view>> cases = {
        {0, "queued"},    {1, "validating"}, {2, "signing"},   {3, "submitting"}, {4, "polling"},
        {5, "completed"}, {6, "failed"},     {7, "cancelled"}, {8, "unknown"},    {-1, "unknown"},
    };
    for (const auto& [value, name] : cases) {
        EXPECT_EQ(jobStatusName(static_cast<JobStatus>(value)), name) << value;
    }
}

TEST(TicksToIsoUtc, Cases) {
    const std::int64_t leapDay = 1709210096LL * kTicksPerSecond;  // 2024-02-29T12:34:56Z
    const std::vector<std::pair<std::int64_t, std::string>> cases = {
        {0, ""},
        {1, "1970-01-01T00:00:00Z"},
        {kTicksPerSecond, "1970-01-01T00:00:01Z"},
        {leapDay, "2024-02-29T12:34:56Z"},
        {leapDay + kTicksPerSecond - 1, "2024-02-29T12:34:56Z"},
        {253402300799LL * kTicksPerSecond, "9999-12-31T23:59:59Z"},
        {-1, "1970-01-01T00:00:00Z"},  // truncated toward zero
        {-kTicksPerSecond, "1969-12-31T23:59:59Z"},
    };
    for (const auto& [ticks, text] : cases) {
        EXPECT_EQ(ticksToIsoUtc(ticks), text) << ticks;
    }
}

TEST(JobToJson, ADefaultJobHasEveryKeyInByteOrder) {
    EXPECT_EQ(
        core::dumpCompact(jobToJson(SubmissionJob{})),
        R"({"certificateId":"","completedAt":"","createdAt":"","declarationDir":"","documentId":"",)"
        R"("errorMessage":"","iban":"","id":"","incomeNumber":"","nativeErrors":[],"progressMessage":"",)"
        R"("progressPercent":0,"signerEmail":"","startedAt":"","status":"queued","validationErrors":[]})");
}

TEST(JobToJson, EveryFieldReachesItsKey) {
    SubmissionJob job;
    job.id = "0f8fad5b-d9cb-469f-a165-70867728950e";
    job.declarationDir = "/home/u/Декларации/2024";
    job.signerEmail = "a@b.bg";
    job.iban = "BG80BNBG96611020345678";
    job.certificateId = "AB12";
    job.status = JobStatus::Failed;
    job.progressPercent = 42;
    job.progressMessage = "Signing";
    job.createdAt = 1 * kTicksPerSecond;
    job.startedAt = 2 * kTicksPerSecond;
    job.completedAt = 3 * kTicksPerSecond;
    job.incomeNumber = "22000012345678";
    job.documentId = "123";
    job.validationErrors = {"e1", "e2"};
    job.nativeErrors = {"n1"};
    job.errorMessage = "boom";

    const core::json expected = {
        {"id", job.id},
        {"status", "failed"},
        {"declarationDir", job.declarationDir},
        {"signerEmail", "a@b.bg"},
        {"iban", "BG80BNBG96611020345678"},
        {"certificateId", "AB12"},
        {"progressPercent", 42},
        {"progressMessage", "Signing"},
        {"createdAt", "1970-01-01T00:00:01Z"},
        {"startedAt", "1970-01-01T00:00:02Z"},
        {"completedAt", "1970-01-01T00:00:03Z"},
        {"incomeNumber", "22000012345678"},
        {"documentId", "123"},
        {"validationErrors", core::json::array({"e1", "e2"})},
        {"nativeErrors", core::json::array({"n1"})},
        {"errorMessage", "boom"},
    };
    EXPECT_EQ(jobToJson(job), expected);
    EXPECT_TRUE(jobToJson(job)["progressPercent"].is_number_integer());
}

}  // namespace
}  // namespace velk::server
