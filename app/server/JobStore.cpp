#include "server/JobStore.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <mutex>
#include <random>
#include <unordered_map>

#include "common/Logger.h"
#include "common/TextUtils.h"

namespace velk::server {

namespace {

std::int64_t systemNowTicks() {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count() / 100;
}

// One generator for the process. Request threads draw from it outside the
// store's lock, so it carries a lock of its own.
struct IdGenerator {
    std::mutex mutex;
    std::mt19937_64 engine;
};

IdGenerator& idGenerator() {
    static IdGenerator generator{{}, std::mt19937_64(std::random_device{}())};
    return generator;
}

}  // namespace

struct JobStore::Impl {
    explicit Impl(WallClock clock) : nowTicks(std::move(clock)) {}

    const WallClock nowTicks;
    mutable std::mutex mutex;
    std::unordered_map<std::string, SubmissionJob> jobs;
    // Ids in the order of enqueue, oldest at the front.
    std::deque<std::string> order;
    std::vector<JobListener> listeners;
};

JobStore::JobStore() : JobStore(systemNowTicks) {}

JobStore::JobStore(WallClock nowTicks) : impl_(std::make_unique<Impl>(std::move(nowTicks))) {}

JobStore::~JobStore() = default;

std::string JobStore::enqueue(SubmissionJob job) {
    return enqueueAndCopy(std::move(job)).id;
}

SubmissionJob JobStore::enqueueAndCopy(SubmissionJob job) {
    if (job.id.empty()) {
        job.id = generateJobId();
    }
    job.status = JobStatus::Queued;
    job.createdAt = impl_->nowTicks();
    {
        std::lock_guard lock(impl_->mutex);
        // A replaced job keeps one place in the order, so it is listed once
        // and evicted by its own age.
        if (!impl_->jobs.insert_or_assign(job.id, job).second) {
            std::erase(impl_->order, job.id);
        }
        impl_->order.push_back(job.id);
        while (impl_->order.size() > kMaxJobs) {
            impl_->jobs.erase(impl_->order.front());
            impl_->order.pop_front();
        }
    }
    notifyListeners(job);
    // The folder text comes from a web page: a line break in it must not
    // forge a log line.
    core::logLine(core::LogLevel::Info,
                  "Enqueued job " + job.id + " dir=" + core::escapeControlBytes(job.declarationDir));
    return job;
}

bool JobStore::cancel(const std::string& id) {
    SubmissionJob copy;
    {
        std::lock_guard lock(impl_->mutex);
        const auto it = impl_->jobs.find(id);
        if (it == impl_->jobs.end() || it->second.status != JobStatus::Queued) {
            return false;
        }
        it->second.status = JobStatus::Cancelled;
        it->second.completedAt = impl_->nowTicks();
        copy = it->second;
    }
    notifyListeners(copy);
    return true;
}

std::optional<SubmissionJob> JobStore::get(const std::string& id) const {
    std::lock_guard lock(impl_->mutex);
    const auto it = impl_->jobs.find(id);
    if (it == impl_->jobs.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::vector<SubmissionJob> JobStore::list(std::uint64_t limit) const {
    std::lock_guard lock(impl_->mutex);
    std::vector<SubmissionJob> result;
    result.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(impl_->order.size(), limit)));
    for (auto it = impl_->order.rbegin(); it != impl_->order.rend() && result.size() < limit; ++it) {
        if (const auto job = impl_->jobs.find(*it); job != impl_->jobs.end()) {
            result.push_back(job->second);
        }
    }
    return result;
}

void JobStore::addListener(JobListener listener) {
    std::lock_guard lock(impl_->mutex);
    impl_->listeners.push_back(std::move(listener));
}

void JobStore::notifyListeners(const SubmissionJob& job) const {
    std::vector<JobListener> listeners;
    {
        std::lock_guard lock(impl_->mutex);
        listeners = impl_->listeners;
    }
    for (const JobListener& listener : listeners) {
        try {
            listener(job);  // an empty one throws std::bad_function_call
        } catch (...) {
            // A listener's failure is its own; the others still hear of the job.
        }
    }
}

std::string generateJobId() {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string id(36, '-');
    IdGenerator& generator = idGenerator();
    std::lock_guard lock(generator.mutex);
    for (std::size_t pos = 0; pos < id.size(); ++pos) {
        if (pos == 8 || pos == 13 || pos == 18 || pos == 23) {
            continue;
        }
        id[pos] = kHex[generator.engine() & 0xF];
    }
    id[14] = '4';                                     // version 4
    id[19] = kHex[(generator.engine() & 0x3) | 0x8];  // RFC 4122 variant
    return id;
}

}  // namespace velk::server
