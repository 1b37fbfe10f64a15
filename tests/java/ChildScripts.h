#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "infrastructure/java/ProcessRunner.h"

namespace velk::test {

// Writes an executable script.
inline void writeScript(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    ::chmod(path.c_str(), 0755);
}

// What the stand-in "java" answers to "-version": a 64-bit OpenJDK 17.
inline constexpr const char* kStandInJavaVersionReport =
    "echo 'openjdk version \"17.0.15\" 2025-04-15' >&2\n"
    "echo 'OpenJDK 64-Bit Server VM (build 17.0.15+6, mixed mode)' >&2\n"
    "exit 0\n";

// A stand-in "java" at path: a run with "-version" runs onVersion, any other
// run the shell text run.
inline void writeStandInJava(const std::string& path, const std::string& run,
                             const std::string& onVersion = kStandInJavaVersionReport) {
    writeScript(path, "#!/bin/sh\nif [ \"$1\" = -version ]; then\n" + onVersion + "fi\n" + run);
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

// The whole text of a /proc file; empty when the process has gone meanwhile
// (a read error, which the standard streams would throw).
inline std::string readProcFile(const std::string& path) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return text;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

// Processes that have not ended (zombies do not count) and pass the test:
// called with the /proc/PID folder and the process group of each.
inline std::vector<pid_t> liveProcesses(
    const std::function<bool(const std::string& procDir, long group)>& matches) {
    std::vector<pid_t> out;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return out;
    }
    while (const dirent* entry = ::readdir(proc)) {
        const std::string name = entry->d_name;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const std::string text = readProcFile("/proc/" + name + "/stat");
        const std::size_t close = text.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream fields(text.substr(close + 2));
        char state = 0;
        long parent = 0;
        long group = 0;
        fields >> state >> parent >> group;
        if (state != 'Z' && state != 'X' && matches("/proc/" + name, group)) {
            out.push_back(static_cast<pid_t>(std::stol(name)));
        }
    }
    ::closedir(proc);
    return out;
}

// Live members of a process group.
inline int liveMembers(pid_t group) {
    return static_cast<int>(
        liveProcesses([group](const std::string&, long pgrp) { return pgrp == group; }).size());
}

// Kills what is left of a stand-in's process group when the test ends,
// whatever its outcome, so nothing of it outlives the test.
struct EndGroupOnExit {
    pid_t group;
    ~EndGroupOnExit() {
        if (liveMembers(group) > 0) {
            ::kill(-group, SIGKILL);
        }
    }
};

// Live processes whose environment holds the entry ("NAME=value"): what a
// child started with that environment left behind, whatever its group.
inline std::vector<pid_t> liveProcessesWithEnvironment(const std::string& entry) {
    return liveProcesses([&entry](const std::string& procDir, long) {
        const std::string environment = readProcFile(procDir + "/environ");
        const std::string terminated = entry + std::string(1, '\0');
        return environment.rfind(terminated, 0) == 0 ||
               environment.find(std::string(1, '\0') + terminated) != std::string::npos;
    });
}

// Polls until the count is 0 or the deadline passes.
inline bool waitUntilNoneLive(const std::function<int()>& count) {
    const auto end = std::chrono::steady_clock::now() + kChildDeadline;
    while (count() > 0) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

inline bool waitUntilGroupGone(pid_t group) {
    return waitUntilNoneLive([group] { return liveMembers(group); });
}

}  // namespace velk::test
