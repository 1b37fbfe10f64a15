#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velk::test {

// Environment of a child: the test's own, with every variable that names a
// display, a bus, a Qt platform, a per-user folder or a test seam taken out,
// and the given ones laid over it. So no child reaches the developer's own
// desktop, home or agent.
std::map<std::string, std::string> isolatedEnvironment(const std::map<std::string, std::string>& overrides);

// One program started by a test, in a process group of its own, its standard
// output and error going to a file. It dies with the test process (also when
// the test is killed), and it and its group are ended when the object goes:
// SIGTERM, then SIGKILL after a bounded wait.
class Subprocess {
public:
    struct Options {
        std::vector<std::string> argv;  // argv[0] is the program's path
        std::map<std::string, std::string> environment;
        std::string outputPath;  // standard output and error; /dev/null when empty
        // The child gets a pipe as file descriptor 3 (for -displayfd or
        // --print-address); read it with readReportLine.
        bool reportPipe = false;
    };

    explicit Subprocess(const Options& options);
    ~Subprocess();
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    // The first line written to descriptor 3, without its line end; nothing
    // when the child closed it, died or wrote nothing before the deadline.
    std::optional<std::string> readReportLine(std::chrono::milliseconds deadline);

    bool running();
    // The exit code (minus the signal that ended it), or nothing when it still
    // runs after the deadline.
    std::optional<int> waitForExit(std::chrono::milliseconds deadline);
    void signal(int signalNumber);
    // SIGTERM to the group, then SIGKILL once grace has passed; reaped.
    void stop(std::chrono::milliseconds grace = std::chrono::seconds(5));

    std::string output() const;
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int reportFd_ = -1;
    std::string reportBuffer_;
    std::optional<int> exitCode_;
    std::string outputPath_;
};

// What a short-lived tool answered.
struct ToolResult {
    std::optional<int> exitCode;  // nothing: killed at the deadline
    std::string output;           // standard output and error
};

// Runs a tool to its end, or kills it at the deadline. outputPath holds its
// output meanwhile.
ToolResult runTool(const std::vector<std::string>& argv,
                   const std::map<std::string, std::string>& environment, const std::string& outputPath,
                   std::chrono::milliseconds deadline);

// The first of the candidate paths that is an executable file; "" when none is.
std::string findExecutable(const std::vector<std::string>& candidates);

}  // namespace velk::test
