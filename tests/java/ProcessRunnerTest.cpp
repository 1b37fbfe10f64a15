#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "infrastructure/java/ProcessRunner.h"
#include "java/ChildScripts.h"
#include "platform/UniqueFd.h"
#include "support/LogCapture.h"

namespace velk::core::infra::java {
namespace {

using test::BoundedRun;
using test::runBounded;
using test::waitUntilGroupGone;

ProcessSpec shell(const std::string& script) {
    ProcessSpec spec;
    spec.program = "/bin/sh";
    spec.arguments = {"-c", script};
    return spec;
}

// Lines of both streams, gathered from two threads.
struct Gathered {
    std::mutex mutex;
    std::vector<std::string> out;
    std::vector<std::string> err;
    std::size_t errBytes = 0;

    ProcessRunner::LineHandler onOut() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex);
            out.push_back(line);
        };
    }
    ProcessRunner::LineHandler onErr() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex);
            err.push_back(line);
            errBytes += line.size();
        };
    }
};

TEST(ProcessRunnerTest, ReportsExitCodesAndSignals) {
    const std::vector<std::pair<std::string, int>> cases = {{"exit 0", 0},
                                                            {"exit 3", 3},
                                                            {"exit 255", 255},
                                                            {"kill -TERM $$", 128 + SIGTERM},
                                                            {"kill -KILL $$", 137}};
    for (const auto& [script, code] : cases) {
        SCOPED_TRACE(script);
        ProcessRunner runner;
        ASSERT_TRUE(runner.start(shell(script)));
        const BoundedRun run = runBounded(runner, {}, [](const std::string&) {});
        EXPECT_TRUE(run.endedByItself);
        EXPECT_EQ(run.exitCode, code);
    }
}

TEST(ProcessRunnerTest, HandsOverLinesOfBothStreamsAsWritten) {
    ProcessRunner runner;
    ASSERT_TRUE(
        runner.start(shell("printf 'a\\r\\nb\\r\\n\\nГрешка в ред 3\\nlast\\r'; "
                           "printf 'Прогрес: 40%%\\n' >&2; printf 'tail' >&2; exit 7")));
    Gathered got;
    const BoundedRun run = runBounded(runner, got.onOut(), got.onErr());
    EXPECT_EQ(run.exitCode, 7);
    EXPECT_EQ(got.out, (std::vector<std::string>{"a", "b", "", "Грешка в ред 3", "last\r"}));
    // What the child wrote just before it ended is not lost.
    EXPECT_EQ(got.err, (std::vector<std::string>{"Прогрес: 40%", "tail"}));
}

TEST(ProcessRunnerTest, AMebibyteOfErrorsDoesNotBlockTheChildOrTheAgent) {
    ProcessRunner runner;
    // The error stream fills its pipe many times over before the output is written.
    ASSERT_TRUE(runner.start(
        shell("i=0; while [ $i -lt 1024 ]; do printf '%01023d\\n' 0 >&2; i=$((i+1)); done; echo done")));
    Gathered got;
    const BoundedRun run = runBounded(runner, got.onOut(), got.onErr());
    EXPECT_TRUE(run.endedByItself);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(got.out, std::vector<std::string>{"done"});
    EXPECT_EQ(got.err.size(), 1024u);
    EXPECT_EQ(got.errBytes, 1024u * 1023u);
}

TEST(ProcessRunnerTest, OutputWithoutAHandlerIsStillReadToTheEnd) {
    ProcessRunner runner;
    ASSERT_TRUE(runner.start(shell("head -c 300000 /dev/zero; exit 4")));
    const BoundedRun run = runBounded(runner, {}, {});
    EXPECT_TRUE(run.endedByItself);
    EXPECT_EQ(run.exitCode, 4);
}

TEST(ProcessRunnerTest, AChildThatNeverEndsIsEndedByItsGroup) {
    // From outside, or by the runner's own kill on another thread (as at
    // shut-down or at a time limit) while the run reads.
    for (const bool byRunner : {false, true}) {
        SCOPED_TRACE(byRunner ? "runner's kill" : "group killed from outside");
        ProcessRunner runner;
        ASSERT_TRUE(runner.start(shell("sleep 1000 & echo started; wait")));
        std::promise<void> started;
        std::atomic<bool> once{false};
        auto future = std::async(std::launch::async, [&] {
            return runner.readLinesUntilExit(
                [&](const std::string& line) {
                    if (line == "started" && !once.exchange(true)) {
                        started.set_value();
                    }
                },
                [](const std::string&) {});
        });
        ASSERT_EQ(started.get_future().wait_for(test::kChildDeadline), std::future_status::ready);
        // The run waits for the child as long as it runs; ending the group ends it.
        EXPECT_EQ(future.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
        const pid_t group = runner.pid();
        if (byRunner) {
            runner.kill();
        } else {
            ::kill(-group, SIGKILL);
        }
        if (future.wait_for(test::kChildDeadline) != std::future_status::ready) {
            ::kill(-group, SIGKILL);  // so the test fails instead of waiting for ever
            FAIL() << "the run went on after the kill";
        }
        EXPECT_EQ(future.get(), 128 + SIGKILL);
        // A sleeping grandchild held the output open too: the whole group went.
        EXPECT_TRUE(waitUntilGroupGone(group));
        runner.terminate();
        runner.kill();  // nothing left to end, and no process id reused
    }
}

TEST(ProcessRunnerTest, ReleaseEndsTheChildAndWhatItStarted) {
    ProcessRunner runner;
    ASSERT_TRUE(runner.start(shell("sleep 1000 & sleep 1000")));
    const pid_t group = runner.pid();
    runner.terminate();
    EXPECT_TRUE(waitUntilGroupGone(group));
    EXPECT_FALSE(runner.writeLine("late"));
}

TEST(ProcessRunnerTest, AThrowingHandlerEndsTheChildAndTheExceptionLeaves) {
    for (const bool onStdout : {true, false}) {
        SCOPED_TRACE(onStdout ? "output handler" : "error handler");
        ProcessRunner runner;
        ASSERT_TRUE(runner.start(shell("echo a; echo b >&2; exec sleep 1000")));
        const auto thrower = [](const std::string&) { throw std::runtime_error("handler failed"); };
        const auto quiet = [](const std::string&) {};
        auto future = std::async(std::launch::async, [&] {
            return onStdout ? runner.readLinesUntilExit(thrower, quiet)
                            : runner.readLinesUntilExit(quiet, thrower);
        });
        ASSERT_EQ(future.wait_for(test::kChildDeadline), std::future_status::ready);
        EXPECT_THROW(future.get(), std::runtime_error);
    }
}

TEST(ProcessRunnerTest, WritesLinesTheChildReads) {
    ProcessRunner runner;
    EXPECT_FALSE(runner.writeLine("before start"));
    ASSERT_TRUE(runner.start(shell("read a; read b; echo \"got:$a|$b\"")));
    EXPECT_TRUE(runner.writeLine("DIR:/tmp/ДДС 2025"));
    EXPECT_TRUE(runner.writeLine(""));
    Gathered got;
    EXPECT_EQ(runBounded(runner, got.onOut(), got.onErr()).exitCode, 0);
    EXPECT_EQ(got.out, std::vector<std::string>{"got:DIR:/tmp/ДДС 2025|"});
}

TEST(ProcessRunnerTest, TheChildGetsOnlyItsPipesAndTheGivenEnvironment) {
    // A descriptor the agent leaves inheritable, as a listening socket may be.
    const platform::UniqueFd devNull(::open("/dev/null", O_RDONLY));
    const platform::UniqueFd leaked(::fcntl(devNull.get(), F_DUPFD, 200));
    ASSERT_TRUE(leaked.valid());
    ProcessSpec spec = shell("ls /proc/self/fd; echo \"lc=$LC_ALL\"");
    spec.environment = {{"LC_ALL", "C.UTF-8"}};
    ProcessRunner runner;
    ASSERT_TRUE(runner.start(spec));
    Gathered got;
    EXPECT_EQ(runBounded(runner, got.onOut(), got.onErr()).exitCode, 0);
    EXPECT_EQ(std::count(got.out.begin(), got.out.end(), std::to_string(leaked.get())), 0);
    EXPECT_EQ(std::count(got.out.begin(), got.out.end(), "lc=C.UTF-8"), 1);
}

TEST(ProcessRunnerTest, AWriteToAChildThatEndedFailsWithoutEndingTheAgent) {
    ProcessRunner runner;
    ASSERT_TRUE(runner.start(shell("exec 0<&-; exit 0")));
    EXPECT_EQ(runBounded(runner, {}, {}).exitCode, 0);
    // The pipe has no reader any more: EPIPE, not SIGPIPE.
    const std::string big(256 * 1024, 'x');
    EXPECT_FALSE(runner.writeLine(big));
}

TEST(ProcessRunnerTest, AProgramThatCannotStartIsReported) {
    test::LogCapture log;
    ProcessRunner runner;
    ProcessSpec spec;
    spec.program = "/nonexistent/java";
    EXPECT_FALSE(runner.start(spec));
    EXPECT_EQ(log.count("ERROR", "ProcessRunner: cannot start /nonexistent/java"), 1);
    EXPECT_EQ(runner.readLinesUntilExit({}, {}), -1);
    EXPECT_FALSE(runner.writeLine("x"));
    runner.terminate();
}

}  // namespace
}  // namespace velk::core::infra::java
