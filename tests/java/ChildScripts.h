#pragma once

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "infrastructure/java/ProcessRunner.h"

namespace velk::test {

// Writes an executable script.
inline void writeScript(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    ::chmod(path.c_str(), 0755);
}

// Generous: the sanitizer builds start processes slowly. Only a fault lets a
// run take this long.
inline constexpr std::chrono::seconds kChildDeadline{120};

// Runs readLinesUntilExit on a thread of its own; a run that is not over by
// the deadline has its child's process group killed, so a fault shows up as
// a failed check instead of a hung test. Returns the exit code and whether
// the run ended by itself.
struct BoundedRun {
    int exitCode = -1000;
    bool endedByItself = false;
};

inline BoundedRun runBounded(core::infra::java::ProcessRunner& runner,
                             const core::infra::java::ProcessRunner::LineHandler& onStdout,
                             const core::infra::java::ProcessRunner::LineHandler& onStderr,
                             std::chrono::seconds deadline = kChildDeadline) {
    auto done = std::async(std::launch::async, [&] { return runner.readLinesUntilExit(onStdout, onStderr); });
    BoundedRun run;
    run.endedByItself = done.wait_for(deadline) == std::future_status::ready;
    if (!run.endedByItself) {
        ::kill(-runner.pid(), SIGKILL);
    }
    run.exitCode = done.get();
    return run;
}

}  // namespace velk::test
