#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "infrastructure/java/JavaDiscovery.h"
#include "java/ChildScripts.h"
#include "support/FileText.h"
#include "support/LogCapture.h"
#include "support/PollUntil.h"
#include "support/TempDir.h"

namespace velk::core::infra::java {
namespace {

namespace fs = std::filesystem;
using test::LogCapture;
using test::TempDir;

// The probes' clock in these tests: a probe's time is up only when the test
// says so.
class ManualLimit {
public:
    JavaProbes::StartWatch starter() {
        return [this](std::function<void()> expire) -> std::unique_ptr<JavaProbes::Watch> {
            return std::make_unique<Watch>(*this, std::move(expire));
        };
    }

    // Ends the time of the probe that runs now; false when none runs.
    bool expireRunning() {
        std::lock_guard lock(mutex_);
        if (!running_) {
            return false;
        }
        running_();
        return true;
    }

private:
    class Watch : public JavaProbes::Watch {
    public:
        Watch(ManualLimit& limit, std::function<void()> expire) : limit_(limit) {
            std::lock_guard lock(limit_.mutex_);
            limit_.running_ = std::move(expire);
        }
        ~Watch() override {
            std::lock_guard lock(limit_.mutex_);
            limit_.running_ = nullptr;
        }

    private:
        ManualLimit& limit_;
    };

    std::mutex mutex_;
    std::function<void()> running_;
};

class JavaDiscoveryTest : public testing::Test {
protected:
    // A "java" at folder/bin/java (or at the path itself when bin is false)
    // that reports the text on standard error and notes each run.
    std::string fakeJava(const std::string& folder, const std::string& report, bool bin = true) {
        const std::string dir = bin ? folder + "/bin" : folder;
        fs::create_directories(dir);
        const std::string path = dir + "/java";
        test::writeScript(path, "#!/bin/sh\necho \"" + path + "\" >> '" + probes() +
                                    "'\n[ \"$1\" = -version ] || exit 9\n"
                                    "echo 'version \"99\" on the wrong stream'\n"
                                    "printf '%s\\n' '" +
                                    report + "' >&2\n");
        return path;
    }

    // A "java" that never answers "-version": it starts a grandchild that
    // holds its error stream, notes its process group in `started` and waits.
    std::string silentJava(const std::string& folder) {
        fs::create_directories(folder);
        const std::string path = folder + "/java";
        test::writeScript(path, "#!/bin/sh\nsleep 100000 &\necho $$ > '" + started() + ".tmp' && mv '" +
                                    started() + ".tmp' '" + started() + "'\nwait\n");
        return path;
    }
    std::string started() const { return dir_.sub("started"); }
    // The silent java's process group, once it runs.
    pid_t silentGroup() const {
        if (!test::pollUntil([this] { return fs::exists(started()); },
                             [] { std::this_thread::sleep_for(std::chrono::milliseconds(10)); })) {
            return -1;
        }
        return static_cast<pid_t>(std::stol(test::readFileText(started())));
    }

    std::string probes() const { return dir_.sub("probes.log"); }
    std::vector<std::string> probed() const {
        std::ifstream in(probes());
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);) {
            out.push_back(line);
        }
        return out;
    }

    const std::string jdk11_ =
        "openjdk version \"11.0.21\" 2023-10-17\nOpenJDK 64-Bit Server VM (build 11.0.21+9)";
    TempDir dir_;
};

TEST_F(JavaDiscoveryTest, ProbeReadsTheReportOnStandardError) {
    const std::string java = fakeJava(dir_.sub("jdk"), jdk11_);
    const auto install = probeJava(java);
    ASSERT_TRUE(install);
    EXPECT_EQ(install->path, java);
    EXPECT_EQ(install->version, "11.0.21");
    EXPECT_TRUE(install->is64);
    EXPECT_EQ(detectJavaArch(java), 2);

    LogCapture log;
    const std::string silent = fakeJava(dir_.sub("silent"), "no version here");
    EXPECT_FALSE(probeJava(silent));
    EXPECT_EQ(log.count("WARN", "Could not parse java -version for: " + silent), 1);
    EXPECT_EQ(detectJavaArch(silent), 0);
    EXPECT_EQ(detectJavaArch(
                  fakeJava(dir_.sub("old"), "java version \"1.8.0_392\"\nJava HotSpot(TM) Client VM 32-Bit")),
              1);
    EXPECT_EQ(detectJavaArch(""), 0);
    EXPECT_FALSE(probeJava(dir_.sub("jdk")));  // a folder
    EXPECT_FALSE(probeJava(dir_.sub("missing/java")));
}

TEST_F(JavaDiscoveryTest, VersionParsingTakesTheFirstQuotedVersion) {
    struct Case {
        std::string text;
        std::string version;
        bool is64;
    };
    const std::vector<Case> cases = {
        {"java version \"1.8.0_392\"\nJava HotSpot(TM) 64-Bit Server VM", "1.8.0_392", true},
        {"openjdk version\t\"17.0.9\" 2023-10-17", "17.0.9", false},
        {"version \"\" then version \"21\"", "21", false},
        {"version\"11\"", "", false},
        {"version \"unterminated", "", false},
        {"OpenJDK 64-bit", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string version = "stale";
        bool is64 = !c.is64;
        EXPECT_EQ(parseJavaVersion(c.text, version, is64), !c.version.empty());
        EXPECT_EQ(version, c.version);
        EXPECT_EQ(is64, c.is64);
    }
}

TEST_F(JavaDiscoveryTest, SearchesInOrderAndStopsAtTheFirstUsableRuntime) {
    JavaSearchPlaces places;
    places.openWebStartJava = fakeJava(dir_.sub("ows"), jdk11_, false);
    places.javaHome = dir_.sub("home");
    fakeJava(places.javaHome, jdk11_);
    EXPECT_EQ(findJava(places)->path, places.openWebStartJava);
    EXPECT_EQ(probed(), std::vector<std::string>{places.openWebStartJava});
}

TEST_F(JavaDiscoveryTest, SkipsWhatIsMissingOrBrokenAndFallsThroughToPath) {
    JavaSearchPlaces places;
    places.openWebStartJava = dir_.sub("ows/java");  // not there
    places.javaHome = dir_.sub("empty-home");        // no bin/java
    fs::create_directories(places.javaHome);
    places.jvmFolder = dir_.sub("jvm");
    fakeJava(places.jvmFolder + "/b-broken", "no version");
    fs::create_directories(places.jvmFolder + "/c-empty");
    std::ofstream(places.jvmFolder + "/a-file") << "not a folder";
    const std::string inPath = fakeJava(dir_.sub("path2"), jdk11_, false);
    places.path = dir_.sub("path1") + "::" + dir_.sub("path2") + ":";

    LogCapture log;
    const auto found = findJava(places);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, inPath);
    EXPECT_EQ(probed(), (std::vector<std::string>{places.jvmFolder + "/b-broken/bin/java", inPath}));
    EXPECT_EQ(log.count("WARN", "Could not parse java -version for: "), 1);
}

TEST_F(JavaDiscoveryTest, JvmFolderEntriesGoByNameAndLinksToFoldersCount) {
    JavaSearchPlaces places;
    places.jvmFolder = dir_.sub("jvm");
    const std::string real = fakeJava(dir_.sub("real-jdk"), jdk11_);
    fs::create_directories(places.jvmFolder);
    fakeJava(places.jvmFolder + "/java-17-openjdk-amd64", "openjdk version \"17.0.15\"");
    fs::create_directory_symlink(dir_.sub("real-jdk"), places.jvmFolder + "/default-java");
    const auto found = findJava(places);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, places.jvmFolder + "/default-java/bin/java");
    EXPECT_EQ(found->version, "11.0.21");
    (void)real;
}

TEST_F(JavaDiscoveryTest, NothingUsableGivesNothing) {
    JavaSearchPlaces places;
    places.path = dir_.sub("nowhere");
    EXPECT_FALSE(findJava(places));
    EXPECT_TRUE(probed().empty());
}

// A runtime that never answers "-version" holds the search only for the
// probe's time: its process group is ended, with what it started, and the
// search goes on with the next place.
TEST_F(JavaDiscoveryTest, AProbeWithoutAnAnswerInTimeIsEndedAndTheSearchGoesOn) {
    JavaSearchPlaces places;
    places.openWebStartJava = silentJava(dir_.sub("ows"));
    places.javaHome = dir_.sub("home");
    const std::string answering = fakeJava(places.javaHome, jdk11_);
    ManualLimit limit;
    JavaProbes probes(limit.starter());
    LogCapture log;
    auto search = std::async(std::launch::async, [&] { return findJava(places, probes); });
    const pid_t group = silentGroup();
    ASSERT_GT(group, 0) << "the silent java never ran";
    const bool expired = test::pollUntil([&] { return limit.expireRunning(); },
                                         [] { std::this_thread::sleep_for(std::chrono::milliseconds(10)); });
    if (!expired || search.wait_for(test::kChildDeadline) != std::future_status::ready) {
        ::kill(-group, SIGKILL);  // so the test fails instead of waiting for ever
        FAIL() << "the search waited for the probe past its time";
    }
    const auto found = search.get();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, answering);
    EXPECT_TRUE(test::waitUntilGroupGone(group));
    EXPECT_EQ(probed(), std::vector<std::string>{answering});
    EXPECT_EQ(log.count("WARN", "Java discovery: no answer to -version from " + places.openWebStartJava +
                                    " in time; its process group was ended"),
              1);
    EXPECT_EQ(log.count("WARN", "Could not parse java -version"), 0);
}

// The time limit on the real clock: a runtime that never answers gives no
// install and no architecture.
TEST_F(JavaDiscoveryTest, TheTimeLimitEndsAProbeOnTheRealClock) {
    const std::string silent = silentJava(dir_.sub("silent"));
    JavaProbes probes(std::chrono::milliseconds(1));
    LogCapture log;
    auto probe = std::async(std::launch::async, [&] { return probeJava(silent, probes).has_value(); });
    if (probe.wait_for(test::kChildDeadline) != std::future_status::ready) {
        if (const pid_t group = silentGroup(); group > 0) {
            ::kill(-group, SIGKILL);  // so the test fails instead of waiting for ever
        }
        FAIL() << "the probe ran past its time";
    }
    EXPECT_FALSE(probe.get());
    EXPECT_EQ(detectJavaArch(silent, probes), 0);
    EXPECT_EQ(log.count("WARN", "Java discovery: no answer to -version from " + silent), 2);
}

TEST(NativeLibraryTest, JarAndLibraryNames) {
    EXPECT_EQ(nativeLibJarForArch(0), "");
    EXPECT_EQ(nativeLibJarForArch(1), "native/vatclient-win-x86.jar");
    EXPECT_EQ(nativeLibJarForArch(2), "native/vatclient-win-x86_64.jar");
    EXPECT_EQ(nativeLibName(), "vatclient.dll");
}

}  // namespace
}  // namespace velk::core::infra::java
