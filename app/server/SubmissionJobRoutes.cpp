#include "server/SubmissionJobRoutes.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "common/JsonUtils.h"
#include "common/TextUtils.h"
#include "server/ApiAnswers.h"
#include "server/JobStore.h"

namespace velk::server {

namespace {

using core::json;

constexpr std::uint64_t kDefaultLimit = 100;
constexpr std::size_t kMaxJobTextBytes = 4096;
constexpr const char* kJobNotFound = "job not found";

// The list's "limit" as the web application has always had it read, like
// stoul over a 32-bit unsigned long: leading white space skipped, an optional
// sign, the longest run of decimal digits (anything after it ignored), a
// minus sign negating modulo 2^32. Nothing when there are no digits or the
// magnitude exceeds 32 bits.
std::optional<std::uint32_t> parseListLimit(std::string_view text) {
    const std::optional<std::int64_t> value = core::parseInt64(text);
    constexpr std::int64_t kMax = UINT32_MAX;
    if (!value || *value > kMax || *value < -kMax) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*value);  // modulo 2^32
}

// The name of the first request text of the job past kMaxJobTextBytes, else
// null. The store keeps its cap of jobs, so bounded texts keep it small.
const char* overlongText(const SubmissionJob& job) {
    const std::pair<const char*, const std::string*> texts[] = {{"declarationDir", &job.declarationDir},
                                                                {"signerEmail", &job.signerEmail},
                                                                {"iban", &job.iban},
                                                                {"certificateId", &job.certificateId}};
    for (const auto& [name, text] : texts) {
        if (text->size() > kMaxJobTextBytes) {
            return name;
        }
    }
    return nullptr;
}

}  // namespace

JobStore& SubmissionJobRoutes::store() const {
    if (store_ == nullptr) {
        throw std::logic_error("the server has no job store");
    }
    return *store_;
}

void SubmissionJobRoutes::handleCreateSubmission(const httplib::Request& req, httplib::Response& res) const {
    const json body = parseJsonBody(req);
    SubmissionJob job;
    job.declarationDir = textField(body, "declarationDir");
    job.signerEmail = textField(body, "signerEmail");
    job.iban = textField(body, "iban");
    job.certificateId = textField(body, "certificateId");
    if (const char* field = overlongText(job)) {
        sendError(res, 400,
                  std::string(field) + " is longer than " + std::to_string(kMaxJobTextBytes) + " bytes");
        return;
    }
    if (job.declarationDir.empty() || job.signerEmail.empty()) {
        sendError(res, 400, "declarationDir and signerEmail are required");
        return;
    }
    // The job as stored, not as read back: concurrent creates may already
    // have evicted it, and it was created all the same.
    const SubmissionJob stored = store().enqueueAndCopy(std::move(job));
    sendJson(res, 202, jobToJson(stored));
    res.set_header("Location", "/api/submissions/" + stored.id);
}

void SubmissionJobRoutes::handleListSubmissions(const httplib::Request& req, httplib::Response& res) const {
    std::uint64_t limit = kDefaultLimit;
    if (req.has_param("limit")) {
        limit = parseListLimit(req.get_param_value("limit")).value_or(kDefaultLimit);
    }
    const std::string status = req.get_param_value("status");
    // The limit comes first: the filter looks only at the newest jobs.
    json jobs = json::array();
    for (const SubmissionJob& job : store().list(limit)) {
        if (status.empty() || jobStatusName(job.status) == status) {
            jobs.push_back(jobToJson(job));
        }
    }
    sendJson(res, 200, jobs);
}

void SubmissionJobRoutes::handleGetSubmission(const httplib::Request& req, httplib::Response& res) const {
    if (const auto job = store().get(req.matches[1])) {
        sendJson(res, 200, jobToJson(*job));
        return;
    }
    sendError(res, 404, kJobNotFound);
}

void SubmissionJobRoutes::handleCancelSubmission(const httplib::Request& req, httplib::Response& res) const {
    const std::string id = req.matches[1];
    if (!store().get(id)) {
        sendError(res, 404, kJobNotFound);
        return;
    }
    if (!store().cancel(id)) {
        sendError(res, 409, "job is not in a cancellable state");
        return;
    }
    res.status = 204;
}

void SubmissionJobRoutes::handleGetSubmissionResults(const httplib::Request& req,
                                                     httplib::Response& res) const {
    const auto job = store().get(req.matches[1]);
    if (!job) {
        sendError(res, 404, kJobNotFound);
        return;
    }
    if (job->status == JobStatus::Polling || job->status == JobStatus::Completed) {
        sendJson(res, 200, json{{"incomeNumber", job->incomeNumber}, {"documentId", job->documentId}});
        return;
    }
    sendJson(res, 425,
             json{{"error", "job has not reached polling state"},
                  {"status", std::string(jobStatusName(job->status))}});
}

}  // namespace velk::server
