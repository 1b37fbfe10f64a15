#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/JsonUtils.h"
#include "server/JobStore.h"
#include "server_http/ServerHarness.h"
#include "support/LogCapture.h"

namespace velk::test {
namespace {

using core::json;

constexpr const char* kCreateBody =
    R"({"declarationDir":"/vat/2025-01","signerEmail":"ivan@firm.bg","iban":"BG80BNBG96611020345678",)"
    R"("certificateId":"3F2A","extra":[1]})";

// A valid create body with one text `length` bytes long.
std::string createBodyWith(const std::string& field, std::size_t length) {
    json body = {{"declarationDir", "/vat"}, {"signerEmail", "a@b.bg"}, {"iban", ""}, {"certificateId", ""}};
    body[field] = std::string(length, 'x');
    return body.dump();
}

server::SubmissionJob storedJob(const std::string& dir) {
    server::SubmissionJob job;
    job.declarationDir = dir;
    job.signerEmail = "a@b.bg";
    return job;
}

std::vector<std::string> idsOf(const json& jobs) {
    std::vector<std::string> ids;
    for (const json& job : jobs) {
        ids.push_back(job.at("id"));
    }
    return ids;
}

class SubmissionJobRoutesTest : public ::testing::Test {
protected:
    // Jobs created through the store, oldest first.
    std::vector<std::string> enqueue(int count) {
        std::vector<std::string> ids;
        for (int i = 0; i < count; ++i) {
            ids.push_back(harness.jobs().enqueue(storedJob("/d/" + std::to_string(i))));
        }
        return ids;
    }

    ServerHarness harness;
};

TEST_F(SubmissionJobRoutesTest, CreateRecordsAQueuedJob) {
    const Answer answer = harness.post("/api/submissions", kCreateBody);
    ASSERT_EQ(answer.status, 202) << answer.body;
    EXPECT_EQ(answer.header("Content-Type"), "application/json; charset=utf-8");
    const json job = answer.json();
    const std::string id = job.at("id");
    EXPECT_EQ(answer.header("Location"), "/api/submissions/" + id);
    EXPECT_EQ(job.size(), 16u);
    EXPECT_EQ(job.at("status"), "queued");
    EXPECT_EQ(job.at("declarationDir"), "/vat/2025-01");
    EXPECT_EQ(job.at("signerEmail"), "ivan@firm.bg");
    EXPECT_EQ(job.at("iban"), "BG80BNBG96611020345678");
    EXPECT_EQ(job.at("certificateId"), "3F2A");
    EXPECT_NE(job.at("createdAt"), "");
    EXPECT_EQ(job.at("startedAt"), "");
    EXPECT_EQ(job.at("completedAt"), "");
    EXPECT_EQ(job.at("progressPercent"), 0);
    EXPECT_EQ(job.at("validationErrors"), json::array());

    const Answer read = harness.get("/api/submissions/" + id);
    EXPECT_EQ(read.status, 200);
    EXPECT_EQ(read.body, answer.body);
}

TEST_F(SubmissionJobRoutesTest, CreateRefusesWhatItCannotRecordAndStoresNothing) {
    LogCapture log;
    struct Case {
        std::string body;
        int status;
        std::string answer;
    };
    const std::string required = R"({"error":"declarationDir and signerEmail are required"})";
    const std::string internal = R"({"error":"internal error"})";
    const std::vector<Case> cases = {
        {"", 400, required},
        {"not json", 400, required},
        {"{}", 400, required},
        {R"({"declarationDir":"/vat"})", 400, required},
        {R"({"signerEmail":"a@b.bg"})", 400, required},
        {R"({"declarationDir":"","signerEmail":"a@b.bg"})", 400, required},
        {R"({"declarationDir":"/vat","signerEmail":"a@b.bg","iban":5})", 500, internal},
        {R"({"declarationDir":"/vat","signerEmail":"a@b.bg","certificateId":null})", 500, internal},
        {R"([{"declarationDir":"/vat","signerEmail":"a@b.bg"}])", 500, internal},
        // A page must not fill the store's thousand jobs with large texts.
        {createBodyWith("declarationDir", 4097), 400,
         R"({"error":"declarationDir is longer than 4096 bytes"})"},
        {createBodyWith("signerEmail", 4097), 400, R"({"error":"signerEmail is longer than 4096 bytes"})"},
        {createBodyWith("iban", 4097), 400, R"({"error":"iban is longer than 4096 bytes"})"},
        {createBodyWith("certificateId", 100'000), 400,
         R"({"error":"certificateId is longer than 4096 bytes"})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body.substr(0, 100));
        const Answer answer = harness.post("/api/submissions", c.body);
        EXPECT_EQ(answer.status, c.status);
        EXPECT_EQ(answer.body, c.answer);
    }
    EXPECT_TRUE(harness.jobs().list(10).empty());
    EXPECT_EQ(log.count("ERROR", "HTTP handler threw on POST /api/submissions"), 3);
}

TEST_F(SubmissionJobRoutesTest, CreateTakesTextsUpToTheirBound) {
    for (const char* field : {"declarationDir", "signerEmail", "iban", "certificateId"}) {
        SCOPED_TRACE(field);
        const Answer answer = harness.post("/api/submissions", createBodyWith(field, 4096));
        ASSERT_EQ(answer.status, 202) << answer.body.substr(0, 200);
        EXPECT_EQ(answer.json().at(field), std::string(4096, 'x'));
    }
}

TEST_F(SubmissionJobRoutesTest, CreateAnswersTheStoredJobEvenWhenNewerOnesEvictedIt) {
    // Between storing the job and answering, a thousand newer jobs arrive.
    std::atomic<bool> flood{true};
    harness.jobs().addListener([&](const server::SubmissionJob&) {
        if (flood.exchange(false)) {
            enqueue(static_cast<int>(server::JobStore::kMaxJobs));
        }
    });
    const Answer answer = harness.post("/api/submissions", kCreateBody);
    ASSERT_EQ(answer.status, 202) << answer.body;
    const std::string id = answer.json().at("id");
    EXPECT_EQ(answer.json().at("declarationDir"), "/vat/2025-01");
    EXPECT_EQ(harness.get("/api/submissions/" + id).status, 404);
}

TEST_F(SubmissionJobRoutesTest, ListIsNewestFirstAndHonoursTheLimitAsItWasAlwaysRead) {
    const std::vector<std::string> ids = enqueue(101);
    struct Case {
        const char* query;
        std::size_t count;
    };
    const std::vector<Case> cases = {
        {"", 100},
        {"?limit=", 100},
        {"?limit=abc", 100},
        {"?limit=0", 0},
        {"?limit=3", 3},
        {"?limit=25abc", 25},
        {"?limit=%20%097", 7},
        {"?limit=%2B7", 7},
        {"?limit=-0", 0},
        {"?limit=-1", 101},  // 4294967295
        {"?limit=-4294967295", 1},
        {"?limit=-4294967296", 100},
        {"?limit=4294967295", 101},
        {"?limit=4294967296", 100},
        {"?limit=99999999999999999999999", 100},
        {"?limit=0x10", 0},
        {"?limit=-%205", 100},
        {"?limit=2&limit=50", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        const Answer answer = harness.get(std::string("/api/submissions") + c.query);
        ASSERT_EQ(answer.status, 200);
        const std::vector<std::string> listed = idsOf(answer.json());
        ASSERT_EQ(listed.size(), c.count);
        for (std::size_t i = 0; i < listed.size(); ++i) {
            EXPECT_EQ(listed[i], ids[ids.size() - 1 - i]);
        }
    }
}

TEST_F(SubmissionJobRoutesTest, TheStatusFilterLooksOnlyAtTheListedJobs) {
    const std::vector<std::string> ids = enqueue(3);
    ASSERT_TRUE(harness.jobs().cancel(ids[2]));
    struct Case {
        const char* query;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"?status=queued", {ids[1], ids[0]}},
        {"?status=cancelled", {ids[2]}},
        {"?status=QUEUED", {}},
        {"?status=", {ids[2], ids[1], ids[0]}},
        {"?status=queued&limit=1", {}},
        {"?status=queued&limit=2", {ids[1]}},
        {"?status=completed", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        const Answer answer = harness.get(std::string("/api/submissions") + c.query);
        ASSERT_EQ(answer.status, 200);
        EXPECT_EQ(idsOf(answer.json()), c.expected);
    }
}

TEST_F(SubmissionJobRoutesTest, CancelOnlyAQueuedJob) {
    const std::string id = harness.post("/api/submissions", kCreateBody).json().at("id");

    Answer answer = harness.del("/api/submissions/" + id);
    EXPECT_EQ(answer.status, 204);
    EXPECT_EQ(answer.body, "");
    const json job = harness.get("/api/submissions/" + id).json();
    EXPECT_EQ(job.at("status"), "cancelled");
    EXPECT_NE(job.at("completedAt"), "");

    answer = harness.del("/api/submissions/" + id);
    EXPECT_EQ(answer.status, 409);
    EXPECT_EQ(answer.body, R"({"error":"job is not in a cancellable state"})");
    EXPECT_EQ(harness.get("/api/submissions/" + id).json().at("completedAt"), job.at("completedAt"));

    answer = harness.del("/api/submissions/no-such-job");
    EXPECT_EQ(answer.status, 404);
    EXPECT_EQ(answer.body, R"({"error":"job not found"})");
}

TEST_F(SubmissionJobRoutesTest, ResultsWaitForTheFilingNumbers) {
    const std::vector<std::string> ids = enqueue(2);
    ASSERT_TRUE(harness.jobs().cancel(ids[1]));
    struct Case {
        std::string id;
        int status;
        std::string body;
    };
    const std::vector<Case> cases = {
        {ids[0], 425, R"({"error":"job has not reached polling state","status":"queued"})"},
        {ids[1], 425, R"({"error":"job has not reached polling state","status":"cancelled"})"},
        {"no-such-job", 404, R"({"error":"job not found"})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const Answer answer = harness.get("/api/submissions/" + c.id + "/results");
        EXPECT_EQ(answer.status, c.status);
        EXPECT_EQ(answer.body, c.body);
    }
}

TEST_F(SubmissionJobRoutesTest, PathsOutsideThePatternsGetTheLibrarys404) {
    const std::string id = enqueue(1).front();
    EXPECT_EQ(harness.get("/api/submissions/").status, 404);
    EXPECT_EQ(harness.get("/api/submissions/" + id + "/results/x").status, 404);
    EXPECT_EQ(harness.get("/api/submissions/no-such-job").body, R"({"error":"job not found"})");
}

TEST_F(SubmissionJobRoutesTest, AJobIsForgottenAfterAThousandNewerOnes) {
    const std::string first = harness.post("/api/submissions", kCreateBody).json().at("id");
    enqueue(999);
    EXPECT_EQ(harness.get("/api/submissions/" + first).status, 200);
    enqueue(1);
    EXPECT_EQ(harness.get("/api/submissions/" + first).status, 404);
    EXPECT_EQ(harness.del("/api/submissions/" + first).status, 404);
    EXPECT_EQ(harness.get("/api/submissions/" + first + "/results").status, 404);
}

}  // namespace
}  // namespace velk::test
