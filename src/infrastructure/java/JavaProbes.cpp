#include "infrastructure/java/JavaProbes.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "infrastructure/java/ProcessRunner.h"
#include "infrastructure/java/RunDeadline.h"

namespace velk::core::infra::java {

namespace {

// A "-version" report is a few lines; anything past this is not one.
constexpr std::size_t kMaxReportBytes = 64 * 1024;

class DeadlineWatch : public JavaProbes::Watch {
public:
    DeadlineWatch(std::chrono::milliseconds limit, std::function<void()> expire)
        : deadline_(limit, std::move(expire)) {}

private:
    RunDeadline deadline_;
};

// Keeps a started probe known to its probes until its run is over.
class AttachedProbe {
public:
    AttachedProbe(bool attached, std::function<void()> detach)
        : attached_(attached), detach_(std::move(detach)) {}
    ~AttachedProbe() {
        if (attached_) {
            detach_();
        }
    }
    AttachedProbe(const AttachedProbe&) = delete;
    AttachedProbe& operator=(const AttachedProbe&) = delete;

    bool attached() const { return attached_; }

private:
    bool attached_;
    std::function<void()> detach_;
};

}  // namespace

JavaProbes::JavaProbes(std::chrono::milliseconds timeLimit)
    : startWatch_([timeLimit](std::function<void()> expire) -> std::unique_ptr<Watch> {
          return std::make_unique<DeadlineWatch>(timeLimit, std::move(expire));
      }) {}

JavaProbes::JavaProbes(StartWatch startWatch) : startWatch_(std::move(startWatch)) {}

JavaProbes& JavaProbes::shared() {
    static JavaProbes probes;
    return probes;
}

std::optional<std::string> JavaProbes::versionReport(const std::string& path) {
    if (ended()) {
        return std::nullopt;
    }
    ProcessRunner runner;  // declared first: released after it is detached
    ProcessSpec spec;
    spec.program = path;
    spec.arguments = {"-version"};
    spec.environment = {{"LC_ALL", "C.UTF-8"}};
    spec.maxLineBytes = kMaxReportBytes;
    if (!runner.start(spec)) {
        return std::nullopt;
    }
    const AttachedProbe probe(attach(runner), [this, &runner] { detach(runner); });
    if (!probe.attached()) {
        return std::nullopt;  // ended meanwhile; the runner's release ends the child
    }
    std::string report;
    std::atomic<bool> expired{false};
    int exitCode = 0;
    {
        const std::unique_ptr<Watch> watch = startWatch_([&runner, &expired] {
            expired = true;
            runner.kill();
        });
        exitCode = runner.readLinesUntilExit({}, [&report](const std::string& line) {
            if (report.size() < kMaxReportBytes) {
                report += line;
                report += '\n';
            }
        });
    }
    if (ended()) {
        return std::nullopt;
    }
    // A child that ended by itself just before its time was up keeps its report.
    if (expired && exitCode == ProcessRunner::kKilledExitCode) {
        logLine(LogLevel::Warn, "Java discovery: no answer to -version from " + loggableText(path) +
                                    " in time; its process group was ended");
        return std::nullopt;
    }
    return report;
}

void JavaProbes::endAll() {
    std::lock_guard lock(mutex_);
    ended_ = true;
    for (ProcessRunner* runner : running_) {
        runner->kill();
    }
}

bool JavaProbes::ended() const {
    std::lock_guard lock(mutex_);
    return ended_;
}

bool JavaProbes::attach(ProcessRunner& runner) {
    std::lock_guard lock(mutex_);
    if (ended_) {
        return false;
    }
    running_.push_back(&runner);
    return true;
}

void JavaProbes::detach(ProcessRunner& runner) {
    std::lock_guard lock(mutex_);
    running_.erase(std::remove(running_.begin(), running_.end(), &runner), running_.end());
}

}  // namespace velk::core::infra::java
