#include "PackageStandIns.h"

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "support/FileText.h"
#include "support/PollUntil.h"

namespace velk::test {

namespace {

using namespace std::chrono_literals;

// Each record is written beside its name and moved there, so a reader never
// sees half of one.
std::string recording(const std::string& path, const std::string& what) {
    return "{ " + what + "; } > '" + path + ".tmp'\nmv '" + path + ".tmp' '" + path + "'\n";
}

}  // namespace

PackageStandIns::PackageStandIns(std::string folder) : folder_(std::move(folder)) {
    std::filesystem::create_directories(bin());
    for (const char* tool : {"rm", "cp", "mv"}) {
        std::filesystem::create_symlink(std::string("/bin/") + tool, bin() + "/" + tool);
    }
    // The shell sleeps only while it waits for the old agent.
    writeScript(bin() + "/sleep", "echo waiting >> '" + record("waits") + "'\nexec /bin/sleep \"$@\"\n");
    oldAgent_.start(QStringLiteral("/bin/sleep"), {QStringLiteral("600")});
    if (!oldAgent_.waitForStarted(30'000)) {
        throw std::runtime_error("the stand-in old agent (sleep) did not start");
    }
    const std::string oldPid = std::to_string(oldAgent_.processId());
    writeScript(
        folder_ + "/agent",
        recording(record("agent"), "printf '%s\\n' \"$@\"; if kill -0 " + oldPid +
                                       " 2>/dev/null; then echo old-running; else echo old-ended; fi") +
            "echo started >> '" + record("starts") + "'\n");
    pkexecAnswers(0);
    aptGetAnswers(0);
}

PackageStandIns::~PackageStandIns() {
    endOldAgent();
}

agent::AgentRestart PackageStandIns::restart() const {
    return {QString::fromStdString(folder_ + "/agent"), oldAgent_.processId()};
}

void PackageStandIns::pkexecAnswers(int exitCode) {
    const std::string then = exitCode == 0 ? "exec \"$@\"\n" : "exit " + std::to_string(exitCode) + "\n";
    writeScript(bin() + "/pkexec", recording(record("pkexec"), "printf '%s\\n' \"$@\"") + then);
}

void PackageStandIns::aptGetAnswers(int exitCode) {
    writeScript(bin() + "/apt-get", "if [ \"$1\" = install ]; then cp \"$4\" '" + folder_ +
                                        "/package.seen'; fi\n" +
                                        recording(record("apt-get"), "printf '%s\\n' \"$@\"") + "exit " +
                                        std::to_string(exitCode) + "\n");
}

void PackageStandIns::endOldAgent() {
    if (oldAgent_.state() != QProcess::NotRunning) {
        oldAgent_.kill();
        oldAgent_.waitForFinished(30'000);
    }
}

std::vector<std::string> PackageStandIns::pkexecRun() const {
    return lines(readFileText(record("pkexec")));
}

std::vector<std::string> PackageStandIns::aptGetRun() const {
    return lines(readFileText(record("apt-get")));
}

std::vector<std::string> PackageStandIns::agentRun() const {
    return lines(readFileText(record("agent")));
}

std::string PackageStandIns::packageSeen() const {
    return readFileText(folder_ + "/package.seen");
}

bool PackageStandIns::waitForAgent() const {
    return pollUntil([this] { return std::filesystem::exists(record("agent")); },
                     [] { std::this_thread::sleep_for(10ms); });
}

bool PackageStandIns::waitUntilTheShellWaits() const {
    return pollUntil([this] { return std::filesystem::exists(record("waits")); },
                     [] { std::this_thread::sleep_for(10ms); });
}

bool PackageStandIns::awaitRestarts(int count) {
    endOldAgent();
    return pollUntil(
        [this, count] {
            return static_cast<int>(lines(readFileText(record("starts"))).size()) >= count &&
                   std::filesystem::exists(record("agent"));
        },
        [] { std::this_thread::sleep_for(10ms); });
}

void PackageStandIns::writeScript(const std::string& path, const std::string& body) {
    std::ofstream(path, std::ios::binary) << "#!/bin/sh\n" << body;
    ::chmod(path.c_str(), 0755);
}

}  // namespace velk::test
