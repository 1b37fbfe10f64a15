#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velk::test {

// The built agent started as the desktop would start it, with an environment
// of the test's making (no display, no test seams but those given) and its
// standard output and error in files. Killed and reaped when the object goes,
// if it still runs.
class AgentProcess {
public:
    // env is laid over the test's own environment, from which every display,
    // Qt platform and VELK_ variable has been taken out.
    AgentProcess(const std::string& outputFolder, const std::map<std::string, std::string>& env,
                 const std::vector<std::string>& args = {});
    ~AgentProcess();
    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;

    // The exit code (minus the signal that ended it), or nothing when it still
    // runs after the deadline.
    std::optional<int> waitForExit(std::chrono::seconds deadline);
    bool running();
    void signal(int signalNumber);
    // Polls the local API on port until it answers health, the agent ends
    // or the deadline passes.
    bool waitUntilServing(int port, std::chrono::seconds deadline);

    std::string standardError() const;

private:
    pid_t pid_ = -1;
    std::optional<int> exitCode_;
    std::string errPath_;
};

}  // namespace velk::test
