#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <sstream>
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

// Processes that have not ended (zombies do not count) and pass the test:
// called with the /proc/PID folder of each.
inline int liveProcesses(const std::function<bool(const std::string& procDir, long group)>& matches) {
    int count = 0;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return -1;
    }
    while (const dirent* entry = ::readdir(proc)) {
        const std::string name = entry->d_name;
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream stat("/proc/" + name + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
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
            ++count;
        }
    }
    ::closedir(proc);
    return count;
}

// Live members of a process group.
inline int liveMembers(pid_t group) {
    return liveProcesses([group](const std::string&, long pgrp) { return pgrp == group; });
}

// Live processes whose environment holds the entry ("NAME=value"): what a
// child started with that environment left behind, whatever its group.
inline int liveProcessesWithEnvironment(const std::string& entry) {
    return liveProcesses([&entry](const std::string& procDir, long) {
        std::ifstream in(procDir + "/environ", std::ios::binary);
        const std::string environment((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return environment.find(std::string(1, '\0') + entry + std::string(1, '\0')) != std::string::npos ||
               environment.rfind(entry + std::string(1, '\0'), 0) == 0;
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
