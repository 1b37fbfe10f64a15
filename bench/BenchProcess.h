#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace velk::bench {

// A child program with its own environment additions and its standard
// output on a pipe; ended with SIGTERM (then SIGKILL) when the object goes.
class BenchProcess {
public:
    BenchProcess(const std::string& program, const std::vector<std::pair<std::string, std::string>>& env,
                 const std::vector<std::string>& args = {});
    ~BenchProcess();
    BenchProcess(const BenchProcess&) = delete;
    BenchProcess& operator=(const BenchProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Blocks until the child writes a line holding text; false when its
    // output ends first.
    bool waitForLine(const std::string& text);
    // VmRSS from /proc in kilobytes; 0 when it cannot be read.
    long residentKilobytes() const;
    // Its threads, from /proc; 0 when they cannot be read.
    long threadCount() const;
    // The shared libraries mapped into the child, by path.
    std::vector<std::string> mappedLibraries() const;

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
};

}  // namespace velk::bench
