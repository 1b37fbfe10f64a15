#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "support/PollUntil.h"

namespace velk::test {

// How a desktop tool (xdg-open, xdg-mime, gio) ended.
struct ToolRun {
    bool started = false;   // the program could be executed at all
    bool finished = false;  // it ended before the deadline
    int exitCode = -1;      // its exit code, or minus the signal that ended it
    std::string out;
    std::string err;

    bool succeeded() const { return finished && exitCode == 0; }
    // For a failure message.
    std::string describe() const {
        if (!started) {
            return "could not be started";
        }
        if (!finished) {
            return "did not end within the deadline (killed); stderr: " + err;
        }
        return "exit code " + std::to_string(exitCode) + "; stderr: " + err;
    }
};

// Runs argv[0] with exactly env, in a process group of its own, and collects
// its standard output and error until it ends. Past the deadline the group is
// killed. Programs it started and left running (an opener's application) are
// not waited for.
inline ToolRun runTool(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       std::chrono::seconds deadline = kPollDeadline) {
    ToolRun run;
    int outPipe[2];
    int errPipe[2];
    int execPipe[2];  // closed by a successful exec; a byte when exec failed
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
        return run;
    }
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return run;
    }
    if (::pipe2(execPipe, O_CLOEXEC) != 0) {
        for (const int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
            ::close(fd);
        }
        return run;
    }
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> vars;
    for (const auto& v : env) {
        vars.push_back(const_cast<char*>(v.c_str()));
    }
    vars.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        const int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, 0);
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        ::execve(argv[0].c_str(), args.data(), vars.data());
        const char failed = 1;
        [[maybe_unused]] const ssize_t n = ::write(execPipe[1], &failed, 1);
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    ::close(execPipe[1]);
    if (pid < 0) {
        for (const int fd : {outPipe[0], errPipe[0], execPipe[0]}) {
            ::close(fd);
        }
        return run;
    }
    ::setpgid(pid, pid);  // also here, so a kill below never misses the group
    char execFailed = 0;
    ssize_t n = 0;
    do {
        n = ::read(execPipe[0], &execFailed, 1);
    } while (n < 0 && errno == EINTR);
    ::close(execPipe[0]);
    run.started = n == 0;

    for (const int fd : {outPipe[0], errPipe[0]}) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    // A pipe at its end leaves the poll set (-1), so the poll below waits.
    int readFds[2] = {outPipe[0], errPipe[0]};
    std::string* texts[2] = {&run.out, &run.err};
    const auto drain = [&] {
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            ssize_t got = 0;
            while (readFds[i] >= 0 && (got = ::read(readFds[i], buffer, sizeof buffer)) > 0) {
                texts[i]->append(buffer, static_cast<std::size_t>(got));
            }
            if (got == 0) {
                readFds[i] = -1;
            }
        }
    };
    const auto end = std::chrono::steady_clock::now() + deadline;
    int status = 0;
    while (true) {
        const pid_t waited = ::waitpid(pid, &status, WNOHANG);
        if (waited == pid) {
            run.finished = true;
            break;
        }
        if (std::chrono::steady_clock::now() > end) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        pollfd fds[2] = {{readFds[0], POLLIN, 0}, {readFds[1], POLLIN, 0}};
        ::poll(fds, 2, 20);
        drain();
    }
    drain();
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    if (run.finished) {
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
    return run;
}

}  // namespace velk::test
