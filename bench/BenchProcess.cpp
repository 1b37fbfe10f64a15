#include "BenchProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <chrono>
#include <cstring>
#include <fstream>
#include <set>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace velk::bench {

BenchProcess::BenchProcess(const std::string& program,
                           const std::vector<std::pair<std::string, std::string>>& env,
                           const std::vector<std::string>& args) {
    std::vector<std::string> entries;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const auto& [name, value] : env) {
            replaced = replaced || entry.rfind(name + "=", 0) == 0;
        }
        if (!replaced) {
            entries.push_back(entry);
        }
    }
    for (const auto& [name, value] : env) {
        entries.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (auto& entry : entries) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    int fds[2];
    if (::pipe(fds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::string path = program;
    std::vector<std::string> words = args;
    std::vector<char*> argv{path.data()};
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    out_ = fds[0];
    if (rc != 0) {
        ::close(out_);
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    }
}

BenchProcess::~BenchProcess() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 500; ++i) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            ::close(out_);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    ::close(out_);
}

bool BenchProcess::waitForLine(const std::string& text) {
    char chunk[4096];
    while (true) {
        for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
            const std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        const ssize_t n = ::read(out_, chunk, sizeof chunk);
        if (n <= 0) {
            return false;
        }
        pending_.append(chunk, static_cast<std::size_t>(n));
    }
}

namespace {

// A number from the child's /proc status, by its label ("VmRSS:"); 0 when
// it cannot be read.
long statusNumber(pid_t pid, const std::string& label) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(label, 0) == 0) {
            return std::strtol(line.c_str() + label.size(), nullptr, 10);
        }
    }
    return 0;
}

}  // namespace

long BenchProcess::residentKilobytes() const {
    return statusNumber(pid_, "VmRSS:");
}

long BenchProcess::threadCount() const {
    return statusNumber(pid_, "Threads:");
}

std::vector<std::string> BenchProcess::mappedLibraries() const {
    std::ifstream maps("/proc/" + std::to_string(pid_) + "/maps");
    std::set<std::string> paths;
    std::string line;
    while (std::getline(maps, line)) {
        const auto slash = line.find('/');
        if (slash != std::string::npos && line.find(".so", slash) != std::string::npos) {
            paths.insert(line.substr(slash));
        }
    }
    return {paths.begin(), paths.end()};
}

}  // namespace velk::bench
