#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/SubmissionJob.h"

namespace velk::server {

using JobListener = std::function<void(const SubmissionJob&)>;

// The submission jobs the web application records, in memory, at most kMaxJobs
// of them (the oldest enqueued go first). The store does no submission work.
// Safe from any thread; results are copies, never references into the store.
class JobStore {
public:
    static constexpr std::size_t kMaxJobs = 1000;

    // Wall-clock time in 100-ns ticks since 1970-01-01 UTC.
    using WallClock = std::function<std::int64_t()>;

    JobStore();
    explicit JobStore(WallClock nowTicks);
    ~JobStore();
    JobStore(const JobStore&) = delete;
    JobStore& operator=(const JobStore&) = delete;

    // Stores the job as queued, created now, with a new id when it has none;
    // returns the id. A job stored under the same id is replaced and counts
    // as the newest.
    std::string enqueue(SubmissionJob job);
    // enqueue, returning the job as it was stored: what the creator answers
    // even when concurrent creates have already evicted it.
    SubmissionJob enqueueAndCopy(SubmissionJob job);
    // Only a queued job can be cancelled; false for any other or an unknown id.
    bool cancel(const std::string& id);
    std::optional<SubmissionJob> get(const std::string& id) const;
    // At most `limit` jobs, newest first.
    std::vector<SubmissionJob> list(std::uint64_t limit) const;

    // Called after every enqueue and successful cancel, on the calling thread
    // and outside the store's lock; a listener that throws is skipped.
    void addListener(JobListener listener);

private:
    void notifyListeners(const SubmissionJob& job) const;

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A random version-4 UUID in lower case, 36 characters.
std::string generateJobId();

}  // namespace velk::server
