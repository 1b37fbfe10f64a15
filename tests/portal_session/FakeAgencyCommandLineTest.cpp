#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/FreePort.h"

extern char** environ;

namespace velk::test {
namespace {

using testing::HasSubstr;
using testing::StartsWith;

// Every wait on a spawned program: far longer than any of them takes, short
// of ctest's own time-out, so a hang fails with a message.
constexpr auto kDeadline = std::chrono::seconds(60);

// A program started with its standard output on a pipe; stopped with SIGTERM
// and reaped when the object goes, if it still runs. Reads and waits give up
// at kDeadline with a test failure, and then kill the program.
class SpawnedProgram {
public:
    explicit SpawnedProgram(std::vector<std::string> args) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        const int rc = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (rc != 0) {
            close(fds[0]);
            throw std::runtime_error("posix_spawnp " + args[0]);
        }
        out_ = fds[0];
        name_ = args[0];
    }
    ~SpawnedProgram() {
        if (pid_ > 0) {
            stop();
        }
        if (out_ >= 0) {
            close(out_);
        }
    }
    SpawnedProgram(const SpawnedProgram&) = delete;
    SpawnedProgram& operator=(const SpawnedProgram&) = delete;

    // The next line without its line feed; empty at the end of the output.
    std::optional<std::string> readLine() {
        for (;;) {
            if (const std::size_t end = buffer_.find('\n'); end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            if (!fill()) {
                std::string rest = std::move(buffer_);
                buffer_.clear();
                return rest.empty() ? std::nullopt : std::optional<std::string>(rest);
            }
        }
    }

    // The rest of the output as it came.
    std::string readAll() {
        while (fill()) {
        }
        std::string text = std::move(buffer_);
        buffer_.clear();
        return text;
    }
    // The exit code, or minus the signal that ended the program.
    int wait() {
        const auto end = std::chrono::steady_clock::now() + kDeadline;
        int status = 0;
        for (;;) {
            const pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_ || (done < 0 && errno != EINTR)) {
                break;
            }
            if (std::chrono::steady_clock::now() > end) {
                ADD_FAILURE() << name_ << " did not end within " << kDeadline.count() << " s";
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
    int stop() {
        kill(pid_, SIGTERM);
        return wait();
    }

private:
    // Appends what the program wrote next; false at the end of its output or
    // when the deadline passed (then with a test failure).
    bool fill() {
        if (readEnd_ == std::chrono::steady_clock::time_point{}) {
            readEnd_ = std::chrono::steady_clock::now() + kDeadline;
        }
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                readEnd_ - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                ADD_FAILURE() << name_ << " wrote nothing more within " << kDeadline.count() << " s";
                return false;
            }
            pollfd pfd{out_, POLLIN, 0};
            const int ready = poll(&pfd, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready <= 0) {
                continue;  // the deadline check above ends the wait
            }
            char chunk[4096];
            const ssize_t n = read(out_, chunk, sizeof(chunk));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            buffer_.append(chunk, static_cast<std::size_t>(n));
            return true;
        }
    }

    pid_t pid_ = -1;
    int out_ = -1;
    std::string name_;
    std::string buffer_;
    // One deadline for all the reads of the program's output.
    std::chrono::steady_clock::time_point readEnd_{};
};

struct CurlResult {
    int exitCode;
    std::string output;
};

class FakeAgencyCommandLineTest : public testing::Test {
protected:
    // Starts the program and reads the two lines it prints once it listens.
    void start(std::vector<std::string> extraArgs = {}) {
        std::vector<std::string> args = {VELK_FAKE_AGENCY_PATH};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        agency_.emplace(args);
        connectToLine_ = agency_->readLine().value_or("");
        caFileLine_ = agency_->readLine().value_or("");
        ASSERT_THAT(connectToLine_, StartsWith("VELK_TEST_CONNECT_TO="));
        ASSERT_THAT(caFileLine_, StartsWith("VELK_TEST_CA_FILE="));
        caFile_ = caFileLine_.substr(caFileLine_.find('=') + 1);
    }

    // curl told where the hosts are exactly as the printed lines tell an agent.
    CurlResult curl(std::vector<std::string> args) {
        std::vector<std::string> command = {"curl", "-sS", "--max-time", "60", "--cacert", caFile_};
        std::istringstream entries(connectToLine_.substr(connectToLine_.find('=') + 1));
        for (std::string entry; std::getline(entries, entry, ',');) {
            command.push_back("--connect-to");
            command.push_back(entry);
        }
        command.insert(command.end(), args.begin(), args.end());
        SpawnedProgram program(command);
        std::string output = program.readAll();
        return {program.wait(), std::move(output)};
    }

    std::optional<SpawnedProgram> agency_;
    std::string connectToLine_;
    std::string caFileLine_;
    std::string caFile_;
};

TEST_F(FakeAgencyCommandLineTest, PrintsWhereItListensAndServesThePortalUntilStopped) {
    start();
    EXPECT_THAT(connectToLine_, HasSubstr("portal.nra.bg:443:127.0.0.1:"));
    EXPECT_THAT(connectToLine_, HasSubstr("login.nra.bg:443:127.0.0.1:"));
    ASSERT_TRUE(std::filesystem::exists(caFile_));

    const CurlResult home = curl({"https://portal.nra.bg/home.html"});
    EXPECT_EQ(home.exitCode, 0);
    EXPECT_THAT(home.output, HasSubstr("<title>home</title>"));

    const CurlResult taxpayers =
        curl({"-o", "/dev/null", "-w", "%{http_code}", "https://portal.nra.bg/api/base/taxpayers"});
    EXPECT_EQ(taxpayers.output, "401");

    // The login host wants a client certificate.
    EXPECT_NE(curl({"-o", "/dev/null", "https://login.nra.bg/auth/login/qes"}).exitCode, 0);

    EXPECT_EQ(agency_->stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(caFile_));
}

TEST_F(FakeAgencyCommandLineTest, ListensOnThePortsItIsGiven) {
    const int portal = freePort();
    start({"--portal-port", std::to_string(portal)});
    EXPECT_THAT(connectToLine_, HasSubstr("portal.nra.bg:443:127.0.0.1:" + std::to_string(portal)));
    EXPECT_EQ(curl({"-o", "/dev/null", "https://portal.nra.bg/home.html"}).exitCode, 0);
}

TEST_F(FakeAgencyCommandLineTest, RejectsUnknownArguments) {
    SpawnedProgram program({VELK_FAKE_AGENCY_PATH, "--port"});
    EXPECT_EQ(program.readAll(), "");
    EXPECT_EQ(program.wait(), 1);
}

}  // namespace
}  // namespace velk::test
