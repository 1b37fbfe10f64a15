#include "infrastructure/java/ProcessRunner.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <thread>

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "infrastructure/java/LineSplitter.h"

extern char** environ;

namespace velk::core::infra::java {

namespace {

constexpr std::size_t kChunkBytes = 4096;

// A write to a child that has gone must fail with EPIPE, not end the agent.
void ignoreSigpipeOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = SIG_IGN;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGPIPE, &action, nullptr);
    });
}

struct PipePair {
    platform::UniqueFd read;
    platform::UniqueFd write;
};

bool makePipe(PipePair& pipe) {
    std::array<int, 2> fds{};
    if (::pipe2(fds.data(), O_CLOEXEC) != 0) {
        return false;
    }
    pipe.read = platform::UniqueFd(fds[0]);
    pipe.write = platform::UniqueFd(fds[1]);
    return true;
}

// The agent's environment with the spec's variables laid over it.
std::vector<std::string> childEnvironment(const ProcessSpec& spec) {
    std::vector<std::string> out;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::string_view name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const auto& [key, value] : spec.environment) {
            replaced = replaced || name == key;
        }
        if (!replaced) {
            out.emplace_back(text);
        }
    }
    for (const auto& [key, value] : spec.environment) {
        out.push_back(key + "=" + value);
    }
    return out;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> out;
    out.reserve(texts.size() + 1);
    for (std::string& text : texts) {
        out.push_back(text.data());
    }
    out.push_back(nullptr);
    return out;
}

// Only async-signal-safe calls from here to exec: the agent has threads.
[[noreturn]] void reportAndExit(int reportFd) {
    const int error = errno;
    [[maybe_unused]] const ssize_t n = ::write(reportFd, &error, sizeof error);
    ::_exit(127);
}

void closeDescriptorsFrom(unsigned int first, unsigned int last) {
    if (first > last) {
        return;
    }
    if (::close_range(first, last, 0) == 0) {
        return;
    }
    const long limit = ::sysconf(_SC_OPEN_MAX);
    const unsigned int end = limit > 0 && limit < 65536 ? static_cast<unsigned int>(limit) : 65536U;
    for (unsigned int fd = first; fd <= last && fd < end; ++fd) {
        ::close(static_cast<int>(fd));
    }
}

struct ChildSetup {
    int stdinFd;
    int stdoutFd;
    int stderrFd;
    int reportFd;
    pid_t parent;
    bool ownGroup;
    const char* program;
    char* const* argv;
    char* const* envp;
    const char* workingDirectory;  // null: stay
};

[[noreturn]] void runChild(const ChildSetup& setup) {
    // Above 2 first, so no dup2 below overwrites a descriptor still needed.
    const int report = ::fcntl(setup.reportFd, F_DUPFD_CLOEXEC, 3);
    const int in = ::fcntl(setup.stdinFd, F_DUPFD_CLOEXEC, 3);
    const int out = ::fcntl(setup.stdoutFd, F_DUPFD_CLOEXEC, 3);
    const int err = ::fcntl(setup.stderrFd, F_DUPFD_CLOEXEC, 3);
    if (report < 0) {
        ::_exit(127);
    }
    if (in < 0 || out < 0 || err < 0) {
        reportAndExit(report);
    }
    if (setup.ownGroup && ::setpgid(0, 0) != 0) {
        reportAndExit(report);
    }
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != setup.parent) {
        ::_exit(127);  // the agent is already gone
    }
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGPIPE, &action, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    if (::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) {
        reportAndExit(report);
    }
    closeDescriptorsFrom(3, static_cast<unsigned int>(report) - 1);
    closeDescriptorsFrom(static_cast<unsigned int>(report) + 1, ~0U);
    if (setup.workingDirectory != nullptr && ::chdir(setup.workingDirectory) != 0) {
        reportAndExit(report);
    }
    ::execve(setup.program, setup.argv, setup.envp);
    reportAndExit(report);
}

// Reads the descriptor to its end, handing lines to the handler; a handler
// that throws is not called again, but the stream is still drained so the
// child never blocks on it; onFailure runs at once (it ends the child).
// Returns the handler's first exception.
std::exception_ptr drainLines(int fd, const ProcessRunner::LineHandler& handler, std::size_t maxLineBytes,
                              const std::function<void()>& onFailure) {
    std::exception_ptr failure;
    LineSplitter splitter(maxLineBytes);
    const LineSplitter::LineHandler guarded = [&](const std::string& line) {
        if (failure || !handler) {
            return;
        }
        try {
            handler(line);
        } catch (...) {
            failure = std::current_exception();
            onFailure();
        }
    };
    std::array<char, kChunkBytes> buffer{};
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        splitter.feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)), guarded);
    }
    splitter.finish(guarded);
    return failure;
}

}  // namespace

ProcessRunner::~ProcessRunner() {
    terminate();
}

bool ProcessRunner::start(const ProcessSpec& spec) {
    if (pid_ >= 0 || spec.program.empty()) {
        return false;
    }
    ignoreSigpipeOnce();
    PipePair in;
    PipePair out;
    PipePair err;
    PipePair report;
    if (!makePipe(in) || !makePipe(out) || !makePipe(err) || !makePipe(report)) {
        return false;
    }

    std::vector<std::string> argvTexts;
    argvTexts.push_back(spec.program);
    argvTexts.insert(argvTexts.end(), spec.arguments.begin(), spec.arguments.end());
    std::vector<char*> argv = pointersTo(argvTexts);
    std::vector<std::string> envTexts = childEnvironment(spec);
    std::vector<char*> envp = pointersTo(envTexts);
    const ChildSetup setup{
        in.read.get(),        out.write.get(),
        err.write.get(),      report.write.get(),
        ::getpid(),           spec.useJobObject,
        spec.program.c_str(), argv.data(),
        envp.data(),          spec.workingDirectory.empty() ? nullptr : spec.workingDirectory.c_str()};

    const pid_t pid = ::fork();
    if (pid < 0) {
        logLine(LogLevel::Error, std::string("ProcessRunner: fork failed: ") + std::strerror(errno));
        return false;
    }
    if (pid == 0) {
        runChild(setup);
    }
    if (spec.useJobObject) {
        ::setpgid(pid, pid);  // also done by the child; whichever runs first
    }
    in.read.reset();
    out.write.reset();
    err.write.reset();
    report.write.reset();

    // The report pipe closes on a successful exec; an errno arrives otherwise.
    int childError = 0;
    ssize_t got = 0;
    do {
        got = ::read(report.read.get(), &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    if (got > 0) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        logLine(LogLevel::Error, "ProcessRunner: cannot start " + loggableText(spec.program) + ": " +
                                     std::string(std::strerror(childError)) + " (" +
                                     std::to_string(childError) + ")");
        return false;
    }

    {
        std::lock_guard life(lifeMutex_);
        ownGroup_ = spec.useJobObject;
        pid_ = pid;
    }
    maxLineBytes_ = spec.maxLineBytes;
    stdinWrite_ = std::move(in.write);
    stdoutRead_ = std::move(out.read);
    stderrRead_ = std::move(err.read);
    return true;
}

bool ProcessRunner::writeLine(const std::string& text) {
    std::lock_guard lock(writeMutex_);
    if (!stdinWrite_.valid()) {
        return false;
    }
    const std::string data = text + "\n";
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(stdinWrite_.get(), data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int ProcessRunner::readLinesUntilExit(const LineHandler& onStdoutLine, const LineHandler& onStderrLine) {
    if (pid_ < 0 || !stdoutRead_.valid() || !stderrRead_.valid()) {
        return -1;
    }
    std::exception_ptr stderrFailure;
    std::thread stderrReader([this, &onStderrLine, &stderrFailure] {
        stderrFailure = drainLines(stderrRead_.get(), onStderrLine, maxLineBytes_, [this] { kill(); });
    });
    const std::exception_ptr stdoutFailure =
        drainLines(stdoutRead_.get(), onStdoutLine, maxLineBytes_, [this] { kill(); });
    const int exitCode = waitForExit();
    stderrReader.join();
    if (stdoutFailure) {
        std::rethrow_exception(stdoutFailure);
    }
    if (stderrFailure) {
        std::rethrow_exception(stderrFailure);
    }
    return exitCode;
}

void ProcessRunner::terminate() {
    {
        std::lock_guard life(lifeMutex_);
        if (pid_ >= 0 && !reaped_) {
            // The child is not reaped before this point, so its process id
            // (and group id) cannot have been given to another process yet.
            killGroupLocked();
            while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
            }
            reaped_ = true;
        }
    }
    std::lock_guard lock(writeMutex_);
    stdinWrite_.reset();
    stdoutRead_.reset();
    stderrRead_.reset();
}

int ProcessRunner::waitForExit() {
    siginfo_t info{};
    int rc = 0;
    do {
        rc = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT);
    } while (rc < 0 && errno == EINTR);
    if (rc != 0 || info.si_pid != pid_) {
        return -1;
    }
    if (info.si_code == CLD_EXITED) {
        return info.si_status;
    }
    if (info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED) {
        return 128 + info.si_status;
    }
    return -1;
}

void ProcessRunner::kill() {
    std::lock_guard life(lifeMutex_);
    killGroupLocked();
}

void ProcessRunner::killGroupLocked() {
    if (pid_ < 0 || reaped_) {
        return;
    }
    ::kill(ownGroup_ ? -pid_ : pid_, SIGKILL);
}

}  // namespace velk::core::infra::java
