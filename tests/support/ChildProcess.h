#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

namespace velk::test {

// Runs the body in a forked child and returns how the child ended: its exit
// code, or minus the signal that ended it. The child leaves with _exit, so
// nothing of the test framework runs twice.
inline int runInChild(const std::function<int()>& body) {
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
    int status = 0;
    pid_t waited = 0;
    do {
        waited = ::waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited < 0) {
        return -1000;
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? -WTERMSIG(status) : -1000;
}

}  // namespace velk::test
