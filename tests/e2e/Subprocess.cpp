#include "e2e/Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/FileText.h"

extern char** environ;

namespace velk::test {

namespace {

using Clock = std::chrono::steady_clock;

// Variables a child must never inherit from the test's own environment.
bool inheritable(const std::string& name) {
    static const char* const kExact[] = {
        "DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS",
        "HOME",    "SESSION_MANAGER"};
    for (const char* exact : kExact) {
        if (name == exact) {
            return false;
        }
    }
    for (const char* prefix : {"QT_", "VELK_", "XDG_"}) {
        if (name.rfind(prefix, 0) == 0) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> entries(const std::map<std::string, std::string>& environment) {
    std::vector<std::string> out;
    for (const auto& [name, value] : environment) {
        out.push_back(name + "=" + value);
    }
    return out;
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

std::map<std::string, std::string> isolatedEnvironment(const std::map<std::string, std::string>& overrides) {
    std::map<std::string, std::string> out;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string name = text.substr(0, equals);
        if (inheritable(name)) {
            out[name] = text.substr(equals + 1);
        }
    }
    for (const auto& [name, value] : overrides) {
        out[name] = value;
    }
    return out;
}

Subprocess::Subprocess(const Options& options) : outputPath_(options.outputPath) {
    if (options.argv.empty()) {
        throw std::invalid_argument("Subprocess: no program");
    }
    // Everything the child needs is made before fork: after it, only calls
    // that are safe in a child of a threaded process.
    std::vector<std::string> argv = options.argv;
    std::vector<std::string> envp = entries(options.environment);
    auto argvPointers = pointers(argv);
    auto envPointers = pointers(envp);
    const std::string output = options.outputPath.empty() ? "/dev/null" : options.outputPath;
    const pid_t parent = ::getpid();

    int report[2] = {-1, -1};
    if (options.reportPipe && ::pipe2(report, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("Subprocess: pipe: ") + std::strerror(errno));
    }

    pid_ = ::fork();
    if (pid_ < 0) {
        const int error = errno;
        if (options.reportPipe) {
            ::close(report[0]);
            ::close(report[1]);
        }
        throw std::runtime_error(std::string("Subprocess: fork: ") + std::strerror(error));
    }
    if (pid_ == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);  // the test is gone already
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0) {
            ::_exit(127);
        }
        ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        if (options.reportPipe) {
            ::dup2(report[1], 3);  // dup2 clears close-on-exec on the copy
        }
        ::execve(argvPointers[0], argvPointers.data(), envPointers.data());
        ::_exit(127);
    }
    // Also in the parent, so that the group exists before stop() signals it.
    ::setpgid(pid_, pid_);
    if (options.reportPipe) {
        ::close(report[1]);
        reportFd_ = report[0];
    }
}

Subprocess::~Subprocess() {
    stop();
    if (reportFd_ >= 0) {
        ::close(reportFd_);
    }
}

std::optional<std::string> Subprocess::readReportLine(std::chrono::milliseconds deadline) {
    const auto end = Clock::now() + deadline;
    while (reportFd_ >= 0) {
        if (const auto newline = reportBuffer_.find('\n'); newline != std::string::npos) {
            std::string line = reportBuffer_.substr(0, newline);
            reportBuffer_.erase(0, newline + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        pollfd readable{reportFd_, POLLIN, 0};
        const int ready = ::poll(&readable, 1, static_cast<int>(std::min<long long>(left.count(), 200)));
        if (ready < 0 && errno != EINTR) {
            return std::nullopt;
        }
        if (ready <= 0) {
            continue;
        }
        char chunk[256];
        const ssize_t got = ::read(reportFd_, chunk, sizeof chunk);
        if (got <= 0) {
            if (got < 0 && errno == EINTR) {
                continue;
            }
            return std::nullopt;  // closed before a whole line came
        }
        if (reportBuffer_.size() > 4096) {
            return std::nullopt;  // no report is this long
        }
        reportBuffer_.append(chunk, static_cast<std::size_t>(got));
    }
    return std::nullopt;
}

bool Subprocess::running() {
    if (pid_ <= 0 || exitCode_) {
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

std::optional<int> Subprocess::waitForExit(std::chrono::milliseconds deadline) {
    const auto end = Clock::now() + deadline;
    while (running() && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return exitCode_;
}

void Subprocess::signal(int signalNumber) {
    if (running()) {
        ::kill(pid_, signalNumber);
    }
}

void Subprocess::stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0 || exitCode_) {
        return;  // reaped: its number may belong to someone else by now
    }
    // The leader stays unreaped (WNOWAIT) until its whole group has been
    // signalled, so the group's number cannot have been reused meanwhile.
    ::kill(-pid_, SIGTERM);
    const auto end = Clock::now() + grace;
    while (Clock::now() < end) {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == pid_) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(-pid_, SIGKILL);  // what is left of the group, a bus it started among them
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    exitCode_ = decode(status);
}

std::string Subprocess::output() const {
    return readFileText(outputPath_);
}

ToolResult runTool(const std::vector<std::string>& argv,
                   const std::map<std::string, std::string>& environment, const std::string& outputPath,
                   std::chrono::milliseconds deadline) {
    Subprocess tool({argv, environment, outputPath, false});
    ToolResult result;
    result.exitCode = tool.waitForExit(deadline);
    tool.stop(std::chrono::milliseconds(500));
    result.output = tool.output();
    return result;
}

std::string findExecutable(const std::vector<std::string>& candidates) {
    for (const std::string& path : candidates) {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0) {
            return path;
        }
    }
    return {};
}

}  // namespace velk::test
