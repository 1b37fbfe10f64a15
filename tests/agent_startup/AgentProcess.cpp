#include "agent_startup/AgentProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <httplib.h>

#include "support/FileText.h"

extern char** environ;

namespace velk::test {

namespace {

bool inheritable(const std::string& entry) {
    for (const char* prefix :
         {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "VELK_", "HOME=", "XDG_"}) {
        if (entry.rfind(prefix, 0) == 0) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> childEnvironment(const std::map<std::string, std::string>& overrides) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (inheritable(*entry)) {
            entries.emplace_back(*entry);
        }
    }
    for (const auto& [name, value] : overrides) {
        entries.push_back(name + "=" + value);
    }
    return entries;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (std::string& text : texts) {
        out.push_back(text.data());
    }
    out.push_back(nullptr);
    return out;
}

int decode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

}  // namespace

AgentProcess::AgentProcess(const std::string& outputFolder, const std::map<std::string, std::string>& env,
                           const std::vector<std::string>& args)
    : errPath_(outputFolder + "/stderr-" + std::to_string(::getpid()) + "-" +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())) {
    const std::string outPath = errPath_ + ".out";
    std::vector<std::string> argv = {VELK_AGENT_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp = childEnvironment(env);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    auto argvPointers = pointers(argv);
    auto envPointers = pointers(envp);
    const int rc =
        posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, argvPointers.data(), envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error(std::string("cannot start the agent: ") + std::strerror(rc));
    }
}

AgentProcess::~AgentProcess() {
    if (running()) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

bool AgentProcess::running() {
    if (pid_ < 0 || exitCode_) {
        return false;
    }
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
        exitCode_ = decode(status);
        return false;
    }
    return done == 0;
}

std::optional<int> AgentProcess::waitForExit(std::chrono::seconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (running() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return exitCode_;
}

void AgentProcess::signal(int signalNumber) {
    if (running()) {
        ::kill(pid_, signalNumber);
    }
}

std::string AgentProcess::standardError() const {
    return readFileText(errPath_);
}

bool AgentProcess::waitUntilServing(int port, std::chrono::seconds deadline) {
    httplib::Client http("127.0.0.1", port);
    http.set_connection_timeout(5);
    http.set_read_timeout(60);
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (running() && std::chrono::steady_clock::now() < end) {
        if (const auto answer = http.Get("/api/health"); answer && answer->status == 200) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

}  // namespace velk::test
