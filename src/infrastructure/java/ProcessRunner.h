#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/UniqueFd.h"

namespace velk::core::infra::java {

// What to start.
struct ProcessSpec {
    std::string program;  // full path; no PATH search
    std::vector<std::string> arguments;
    std::string workingDirectory;  // empty: the agent's own
    // The child leads a process group of its own, which release kills with
    // everything the child started (the job object of the Windows design).
    bool useJobObject = true;
    // Set in the child's environment on top of the agent's.
    std::vector<std::pair<std::string, std::string>> environment;
    // Longest line handed to a handler; longer ones are cut (LineSplitter).
    std::size_t maxLineBytes = 64 * 1024 * 1024;
};

// One child process with its standard input, output and error on pipes. The
// owner starts it, writes lines to it, reads its output and error lines until
// it ends, and releases it (terminate, also run by the destructor), which
// kills whatever of the child's process group still runs.
//
// The child gets no descriptor of the agent but its three pipes (the local
// API's listening socket must not live on in a Java process), the default
// SIGPIPE, and SIGKILL when the thread that started it goes away.
class ProcessRunner {
public:
    using LineHandler = std::function<void(const std::string&)>;

    // What readLinesUntilExit returns for a child ended by kill (SIGKILL).
    static constexpr int kKilledExitCode = 128 + SIGKILL;

    ProcessRunner() = default;
    ~ProcessRunner();
    ProcessRunner(const ProcessRunner&) = delete;
    ProcessRunner& operator=(const ProcessRunner&) = delete;

    // True when the child runs. Once per runner.
    bool start(const ProcessSpec& spec);

    // Writes the text and one line feed to the child's input; false when the
    // runner has no child or not every byte went out.
    bool writeLine(const std::string& text);

    // Reads the output on this thread and the error stream on a second one,
    // handing complete lines to the handlers (either may be empty; the stream
    // is then read and dropped), until the output ends and the child has
    // exited; the error reader is joined after that, so the last lines the
    // child wrote before it ended are never lost. Returns the exit code, 128 +
    // the signal number for a child killed by a signal, or -1 when it cannot
    // be read. A handler that throws ends the child; the exception leaves
    // after the error reader has been joined.
    int readLinesUntilExit(const LineHandler& onStdoutLine, const LineHandler& onStderrLine);

    // Kills the child's process group if any of it still runs, reaps the
    // child and closes the pipes. Must not run during readLinesUntilExit.
    void terminate();

    // Kills the child's process group now, from any thread, also while
    // another one is inside readLinesUntilExit (which then sees the output
    // end and returns). Does nothing before a start or after terminate.
    void kill();

    // The child's process id (and group id); -1 before a start.
    pid_t pid() const { return pid_; }

private:
    int waitForExit();
    void killGroupLocked();

    // Guards pid_ and reaped_ between kill and start or terminate, so a
    // kill never reaches a process id reused after the child was reaped.
    std::mutex lifeMutex_;
    pid_t pid_ = -1;
    bool reaped_ = false;
    bool ownGroup_ = false;
    std::size_t maxLineBytes_ = 0;
    platform::UniqueFd stdinWrite_;
    platform::UniqueFd stdoutRead_;
    platform::UniqueFd stderrRead_;
    std::mutex writeMutex_;
};

}  // namespace velk::core::infra::java
