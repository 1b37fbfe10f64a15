#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace velk::core::infra::java {

class ProcessRunner;

// Runs the "-version" probes of Java discovery, each for a bounded time: a
// broken runtime that never answers must hold neither the search nor the
// agent's exit. Past its time a probe's process group is ended and the probe
// counts as no answer; endAll (at shut-down) ends every probe that runs and
// turns later ones away. Safe from any thread.
class JavaProbes {
public:
    // How long a probe may run in the agent: a cold start of a runtime on a
    // busy machine takes a few seconds at most.
    static constexpr std::chrono::seconds kTimeLimit{10};

    // Watches one probe's time: calls expire (on any thread) once the time is
    // up, and never once it is destroyed.
    class Watch {
    public:
        virtual ~Watch() = default;
    };
    using StartWatch = std::function<std::unique_ptr<Watch>(std::function<void()> expire)>;

    explicit JavaProbes(std::chrono::milliseconds timeLimit = kTimeLimit);
    // Probes whose time is watched by the given clock (tests).
    explicit JavaProbes(StartWatch startWatch);
    JavaProbes(const JavaProbes&) = delete;
    JavaProbes& operator=(const JavaProbes&) = delete;

    // The probes of the agent's own discovery.
    static JavaProbes& shared();

    // What the program writes on standard error when run with "-version".
    // Nothing when it does not start, runs past its time (logged) or the
    // probes have been ended.
    std::optional<std::string> versionReport(const std::string& path);

    // Ends every running probe's process group and turns every later probe
    // away. Once is enough.
    void endAll();
    bool ended() const;

private:
    bool attach(ProcessRunner& runner);
    void detach(ProcessRunner& runner);

    const StartWatch startWatch_;
    mutable std::mutex mutex_;
    bool ended_ = false;
    std::vector<ProcessRunner*> running_;
};

}  // namespace velk::core::infra::java
