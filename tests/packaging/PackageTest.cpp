// The Debian package as cpack builds it from the install rules: its contents,
// an installation into a throwaway root with dpkg, the installed agent run
// from there, and its removal.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/FileText.h"
#include "support/TempDir.h"

namespace velk::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

using namespace std::chrono_literals;

// cpack takes about ten seconds; dpkg and the agent a few. The deadline is
// for a program that hangs, on any machine.
constexpr std::chrono::seconds kDeadline = 300s;

struct Outcome {
    int exitCode = -1;
    std::string output;  // standard output and error together
};

// Runs a program (found on PATH) with the test's environment plus extra.
// Past the deadline the program and everything it started are killed, and
// the output says so.
Outcome run(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {}) {
    Outcome result;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return result;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        for (const auto& variable : extraEnv) {
            ::putenv(const_cast<char*>(variable.c_str()));
        }
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return result;
    }
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    bool timedOut = false;
    char buffer[4096];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd entry{fds[0], POLLIN, 0};
        const int ready = left.count() <= 0 ? 0 : ::poll(&entry, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready == 0) {
            timedOut = true;
            break;
        }
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (timedOut) {
        ::kill(-pid, SIGKILL);
        result.output +=
            "\n[" + argv[0] + " killed: no end within " + std::to_string(kDeadline.count()) + " s]";
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && !timedOut) {
        result.exitCode = WEXITSTATUS(status);
    }
    return result;
}

bool available(const std::string& program) {
    return run({"sh", "-c", "command -v " + program}).exitCode == 0;
}

// The package is built once for the suite, into a folder of its own.
class PackageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!available(VELK_CPACK_COMMAND) || !available("dpkg-deb") || !available("dpkg")) {
            skipReason_ =
                new std::string("cpack, dpkg-deb or dpkg is not installed: the package cannot be checked");
            return;
        }
        if (run({"dpkg", "--version"}).exitCode != 0) {
            skipReason_ = new std::string("dpkg does not run here: the package cannot be checked");
            return;
        }
        output_ = new TempDir;
        build_ = new Outcome(run({VELK_CPACK_COMMAND, "-G", "DEB", "--config",
                                  VELK_BINARY_DIR "/CPackConfig.cmake", "-B", output_->str()}));
        for (const auto& item : std::filesystem::directory_iterator(output_->path())) {
            if (item.path().extension() == ".deb") {
                deb_ = new std::string(item.path().string());
            }
        }
    }
    static void TearDownTestSuite() {
        delete deb_;
        delete build_;
        delete output_;
        delete skipReason_;
        deb_ = nullptr;
        build_ = nullptr;
        output_ = nullptr;
        skipReason_ = nullptr;
    }
    void SetUp() override {
        if (skipReason_ != nullptr) {
            GTEST_SKIP() << *skipReason_;
        }
        ASSERT_EQ(build_->exitCode, 0) << build_->output;
        ASSERT_NE(deb_, nullptr) << build_->output;
    }

    static const std::string& deb() { return *deb_; }

    static std::string* skipReason_;
    static TempDir* output_;
    static Outcome* build_;
    static std::string* deb_;
};

std::string* PackageTest::skipReason_ = nullptr;
TempDir* PackageTest::output_ = nullptr;
Outcome* PackageTest::build_ = nullptr;
std::string* PackageTest::deb_ = nullptr;

TEST_F(PackageTest, HoldsTheAgentItsJavaClassTheLauncherAndTheIcon) {
    EXPECT_EQ(std::filesystem::path(deb()).filename(), "vezorodar_" VELK_PACKAGE_VERSION "_amd64.deb");
    const Outcome fields = run({"dpkg-deb", "-f", deb(), "Package", "Version", "Architecture"});
    ASSERT_EQ(fields.exitCode, 0) << fields.output;
    EXPECT_EQ(fields.output, "Package: vezorodar\nVersion: " VELK_PACKAGE_VERSION "\nArchitecture: amd64\n");
    const Outcome depends = run({"dpkg-deb", "-f", deb(), "Depends"});
    EXPECT_THAT(depends.output, HasSubstr("libqt5widgets5"));
    EXPECT_THAT(depends.output, HasSubstr("libcurl4"));

    const Outcome listing = run({"dpkg-deb", "-c", deb()});
    ASSERT_EQ(listing.exitCode, 0) << listing.output;
    std::vector<std::string> entries;
    for (const std::string& line : lines(listing.output)) {
        // "mode owner size date time path": the path from the sixth field on.
        std::istringstream fields(line);
        std::string field;
        for (int i = 0; i < 5; ++i) {
            fields >> field;
        }
        std::string path;
        std::getline(fields >> std::ws, path);
        entries.push_back(line.substr(0, 10) + " " + path);
    }
    EXPECT_THAT(entries, Contains("-rwxr-xr-x ./usr/lib/vezorodar/VezoRodarC"));
    EXPECT_THAT(entries, Contains("-rw-r--r-- ./usr/lib/vezorodar/VelkVatUploader.class"));
    EXPECT_THAT(entries, Contains("lrwxrwxrwx ./usr/bin/VezoRodarC -> ../lib/vezorodar/VezoRodarC"));
    EXPECT_THAT(entries, Contains("-rw-r--r-- ./usr/share/applications/vezorodar-agent.desktop"));
    EXPECT_THAT(entries, Contains("-rw-r--r-- ./usr/share/icons/hicolor/64x64/apps/vezorodar.png"));
    // Nothing of the tests or the build.
    for (const std::string& entry : entries) {
        EXPECT_EQ(entry.find("test"), std::string::npos) << entry;
    }
}

TEST_F(PackageTest, InstallsIntoAThrowawayRootRunsFromThereAndIsRemoved) {
    TempDir root;
    const std::string admin = root.sub("var/lib/dpkg");
    std::filesystem::create_directories(admin + "/info");
    std::filesystem::create_directories(admin + "/updates");
    std::ofstream(admin + "/status");
    // The libraries live on this system, not in the root.
    const std::vector<std::string> dpkg = {"dpkg", "--root=" + root.str(), "--log=/dev/null",
                                           "--force-not-root", "--force-depends"};
    auto install = dpkg;
    install.insert(install.end(), {"-i", deb()});
    const Outcome installed = run(install);
    ASSERT_EQ(installed.exitCode, 0) << installed.output;

    const std::string dir = root.sub("usr/lib/vezorodar");
    struct stat st {};
    ASSERT_EQ(::stat((dir + "/VezoRodarC").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    EXPECT_TRUE(std::filesystem::exists(dir + "/VelkVatUploader.class"));
    EXPECT_EQ(std::filesystem::read_symlink(root.sub("usr/bin/VezoRodarC")), "../lib/vezorodar/VezoRodarC");

    // The query the uninstaller asks, against this root's package database.
    const std::vector<std::string> query = {"dpkg-query", "--admindir=" + admin, "-W", "-f=${Status}",
                                            "vezorodar"};
    EXPECT_EQ(run(query).output, "install ok installed");

    // The installed (stripped) agent starts from its folder, through the link.
    const Outcome schema =
        run({root.sub("usr/bin/VezoRodarC"), "--export-schema"}, {"QT_QPA_PLATFORM=offscreen"});
    EXPECT_EQ(schema.exitCode, 0) << schema.output.substr(0, 2000);
    EXPECT_THAT(schema.output, HasSubstr("\"title\": \"VELK Agent API\""));
    // The agent reports the version the package carries.
    const std::string versionKey = "\"version\": \"";
    const std::size_t version = schema.output.find(versionKey);
    ASSERT_NE(version, std::string::npos);
    const std::size_t from = version + versionKey.size();
    EXPECT_EQ(schema.output.substr(from, schema.output.find('"', from) - from), VELK_PACKAGE_VERSION);

    auto remove = dpkg;
    remove.insert(remove.end(), {"-r", "vezorodar"});
    const Outcome removed = run(remove);
    ASSERT_EQ(removed.exitCode, 0) << removed.output;
    EXPECT_FALSE(std::filesystem::exists(dir + "/VezoRodarC"));
    EXPECT_FALSE(std::filesystem::exists(root.sub("usr/bin/VezoRodarC")));
    EXPECT_NE(run(query).output, "install ok installed");
}

}  // namespace
}  // namespace velk::test
