#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>
#include <functional>
#include <string>
#include <thread>

#include "support/PollUntil.h"

namespace velk::test {

// How runInChild reports a child that did not end by the deadline: it was
// killed, and the test failed with a message.
inline constexpr int kChildKilledAtDeadline = -2000;

namespace detail {

using Clock = std::chrono::steady_clock;

inline int childEnd(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? -WTERMSIG(status) : -1000;
}

// Waits for the child until the deadline; past it the child is killed and
// the test fails.
inline int reapChild(pid_t pid, Clock::time_point deadline) {
    int status = 0;
    for (;;) {
        const pid_t waited = ::waitpid(pid, &status, WNOHANG);
        if (waited == pid) {
            return childEnd(status);
        }
        if (waited < 0 && errno != EINTR) {
            return -1000;
        }
        if (Clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            ADD_FAILURE() << "the child process did not end within " << kPollDeadline.count()
                          << " s and was killed";
            return kChildKilledAtDeadline;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Writes all of text, or fails.
inline bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
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

}  // namespace detail

// Runs the body in a forked child and returns how the child ended: its exit
// code, or minus the signal that ended it. The child leaves with _exit, so
// nothing of the test framework runs twice. A child still running after
// kPollDeadline is killed and the test fails (kChildKilledAtDeadline).
inline int runInChild(const std::function<int()>& body) {
    const auto deadline = detail::Clock::now() + kPollDeadline;
    const pid_t pid = ::fork();
    if (pid < 0) {
        return -1000;
    }
    if (pid == 0) {
        int rc = 125;
        try {
            rc = body();
        } catch (...) {
        }
        ::_exit(rc);
    }
    return detail::reapChild(pid, deadline);
}

// In a child: drops to the unprivileged user when running as root, where
// permissions do not stop reads. False when that fails.
inline bool dropToNobody() {
    if (::geteuid() != 0) {
        return true;
    }
    constexpr gid_t kNobody = 65534;
    return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0 &&
           ::geteuid() == kNobody;
}

// What a child handed back: end is 0 when the body returned its text, 125
// when it threw (text is then the exception's message), else how the child
// ended as runInChild tells.
struct ChildOutput {
    int end = -1000;
    std::string text;
};

// Runs the body in a forked child (for what a test must not do in its own
// process: drop privileges, exhaust descriptors, risk a hang) and hands back
// the text it returned, under the deadline of runInChild.
inline ChildOutput runInChildForText(const std::function<std::string()>& body) {
    const auto deadline = detail::Clock::now() + kPollDeadline;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return {};
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return {};
    }
    if (pid == 0) {
        ::close(fds[0]);
        int rc = 0;
        std::string text;
        try {
            text = body();
        } catch (const std::exception& e) {
            rc = 125;
            text = e.what();
        } catch (...) {
            rc = 125;
        }
        ::_exit(detail::writeAll(fds[1], text) ? rc : 124);
    }
    ::close(fds[1]);
    ChildOutput out;
    char buffer[4096];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - detail::Clock::now()).count();
        pollfd ready{fds[0], POLLIN, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(std::max<long long>(left, 0)));
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled <= 0) {
            break;  // the deadline: reapChild kills the child and fails the test
        }
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        out.text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    out.end = detail::reapChild(pid, deadline);
    return out;
}

}  // namespace velk::test
