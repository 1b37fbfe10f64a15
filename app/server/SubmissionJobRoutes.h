#pragma once

#include <httplib.h>

namespace velk::server {

class JobStore;

// The submission job routes: record a submission of a declaration folder as
// a job, list the newest jobs, follow one, cancel it while it waits and read
// its filing numbers. Thin handlers over the job store; nothing here starts
// any work.
class SubmissionJobRoutes {
public:
    // store may be null only for a server without job routes in use: a
    // request then ends in the server's 500 answer.
    explicit SubmissionJobRoutes(JobStore* store) : store_(store) {}

    // POST /api/submissions
    void handleCreateSubmission(const httplib::Request& req, httplib::Response& res) const;
    // GET /api/submissions?limit=&status=
    void handleListSubmissions(const httplib::Request& req, httplib::Response& res) const;
    // GET /api/submissions/{id}
    void handleGetSubmission(const httplib::Request& req, httplib::Response& res) const;
    // DELETE /api/submissions/{id}
    void handleCancelSubmission(const httplib::Request& req, httplib::Response& res) const;
    // GET /api/submissions/{id}/results
    void handleGetSubmissionResults(const httplib::Request& req, httplib::Response& res) const;

private:
    JobStore& store() const;

    JobStore* store_;
};

}  // namespace velk::server
