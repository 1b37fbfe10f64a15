#pragma once

#include <QProcess>

#include <string>
#include <vector>

#include "agent/PackageShell.h"

namespace velk::test {

// The programs a package shell runs, as scripts in a folder that is the
// whole PATH (with links to the few system tools the shell needs, so that a
// shell that outlives the folder finds no real pkexec): pkexec (which records its arguments and either runs
// them or answers as a dismissed password prompt does), apt-get (which records its arguments and a copy of a
// package file it is given) and the installed agent (which records its arguments and whether the old agent
// still ran when it started). The old agent is a child process of the test that runs until endOldAgent().
class PackageStandIns {
public:
    explicit PackageStandIns(std::string folder);
    ~PackageStandIns();
    PackageStandIns(const PackageStandIns&) = delete;
    PackageStandIns& operator=(const PackageStandIns&) = delete;

    // The folder to make the PATH.
    std::string bin() const { return folder_ + "/bin"; }
    // What the objects under test restart: the stand-in agent after the old one.
    agent::AgentRestart restart() const;

    // 0: pkexec runs apt-get; otherwise it exits with this code unrun
    // (126: the prompt was dismissed).
    void pkexecAnswers(int exitCode);
    // The exit code apt-get answers with (100: apt's failure).
    void aptGetAnswers(int exitCode);

    // Kills and reaps the old agent.
    void endOldAgent();

    // The lines each program recorded; empty when it has not run.
    std::vector<std::string> pkexecRun() const;
    std::vector<std::string> aptGetRun() const;
    std::vector<std::string> agentRun() const;
    // The bytes of the package file apt-get was given, as it saw them.
    std::string packageSeen() const;

    // Waits (with a deadline) until a shell sleeps in its wait for the old
    // agent.
    [[nodiscard]] bool waitUntilTheShellWaits() const;
    // Waits (with a deadline) until the agent has recorded its start.
    [[nodiscard]] bool waitForAgent() const;
    // Ends the old agent and waits (with a deadline) until the agent has
    // been started this many times in all: every shell launched has ended.
    [[nodiscard]] bool awaitRestarts(int count);

    static void writeScript(const std::string& path, const std::string& body);

private:
    std::string record(const char* name) const { return folder_ + "/" + name + ".txt"; }

    std::string folder_;
    QProcess oldAgent_;
};

}  // namespace velk::test
