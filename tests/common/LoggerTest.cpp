#include "common/Logger.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"
#include "support/FileText.h"
#include "support/TempDir.h"
#include "support/UnusualFiles.h"

namespace velk::core {
namespace {

using test::lines;
using test::readFileText;

const std::regex kLinePattern(
    R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \[(DEBUG|INFO |WARN |ERROR|\?\?\?\?\?)\] .*)");

TEST(LogFormat, LocalTimeLevelAndText) {
    test::ScopedEnv tz("TZ", "Europe/Sofia");
    tzset();
    std::tm tm{};
    tm.tm_year = 2026 - 1900;
    tm.tm_mon = 0;
    tm.tm_mday = 15;
    tm.tm_hour = 10;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    EXPECT_EQ(formatLogLine(t, LogLevel::Info, "VelkEngine: initialised"),
              "2026-01-15 10:00:00 [INFO ] VelkEngine: initialised");
    EXPECT_EQ(formatLogLine(t, static_cast<LogLevel>(7), "x"), "2026-01-15 10:00:00 [?????] x");
    tzset();
}

TEST(LogFormat, LevelNamesAreFiveCharactersWide) {
    EXPECT_EQ(logLevelName(LogLevel::Debug), "DEBUG");
    EXPECT_EQ(logLevelName(LogLevel::Info), "INFO ");
    EXPECT_EQ(logLevelName(LogLevel::Warn), "WARN ");
    EXPECT_EQ(logLevelName(LogLevel::Error), "ERROR");
    EXPECT_EQ(logLevelName(static_cast<LogLevel>(-1)), "?????");
}

// The log is process-wide: this one test walks it through its life in order.
TEST(Logger, WritesToStderrAndOnlyLaterLinesToTheFile) {
    test::TempDir dir;
    const std::string path = dir.sub("VezoRodarC.log");

    testing::internal::CaptureStderr();
    logLine(LogLevel::Warn, "Test: before the file");
    const std::string early = testing::internal::GetCapturedStderr();
    ASSERT_EQ(lines(early).size(), 1u);
    EXPECT_TRUE(std::regex_match(lines(early)[0], kLinePattern)) << early;
    EXPECT_NE(early.find("[WARN ] Test: before the file"), std::string::npos);

    // A folder that does not exist: the open fails and logging goes on.
    openLogFile(dir.sub("missing/VezoRodarC.log"));
    logLine(LogLevel::Info, "Test: still running");
    EXPECT_FALSE(std::filesystem::exists(dir.sub("missing")));

    openLogFile(path);
    testing::internal::CaptureStderr();
    logLine(LogLevel::Info, "Test: after the file\nsecond line of the text");
    logError("Test: Кирилица");
    flushLog();
    const std::string stderrText = testing::internal::GetCapturedStderr();

    const std::string fileText = readFileText(path);
    EXPECT_EQ(fileText, stderrText);
    EXPECT_EQ(fileText.find("before the file"), std::string::npos);
    const auto fileLines = lines(fileText);
    ASSERT_EQ(fileLines.size(), 3u);
    EXPECT_TRUE(std::regex_match(fileLines[0], kLinePattern));
    EXPECT_EQ(fileLines[1], "second line of the text");
    EXPECT_NE(fileLines[2].find("[ERROR] Test: Кирилица"), std::string::npos);
    EXPECT_EQ(fileText.find('\r'), std::string::npos);

    // Appends to what is there.
    openLogFile(path);
    logLine(LogLevel::Debug, "Test: appended");
    EXPECT_EQ(lines(readFileText(path)).size(), 4u);
}

TEST(Logger, ConcurrentLinesNeverInterleave) {
    test::TempDir dir;
    const std::string path = dir.sub("concurrent.log");
    openLogFile(path);

    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const std::string text = "Test: " + std::string(300, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) {
                logLine(LogLevel::Info, text);
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    const std::string stderrText = testing::internal::GetCapturedStderr();

    for (const std::string& text : {readFileText(path), stderrText}) {
        const auto all = lines(text);
        ASSERT_EQ(all.size(), static_cast<std::size_t>(kThreads * kLines));
        for (const auto& line : all) {
            ASSERT_TRUE(std::regex_match(line, kLinePattern)) << line;
            const std::string body = line.substr(line.find("] Test: ") + 8);
            ASSERT_EQ(body.size(), 300u);
            ASSERT_EQ(body.find_first_not_of(body[0]), std::string::npos) << line;
        }
    }
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

// Sets the process umask for one test and puts the old one back.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(old_); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t old_;
};

// The log names certificates, folders and jobs: the user's alone, also a file
// an older version left readable to others.
TEST(LogFile, IsPrivateToTheUser) {
    const ScopedUmask umask(022);
    test::TempDir dir;
    const std::string fresh = dir.sub("fresh.log");
    openLogFile(fresh);
    EXPECT_EQ(modeOf(fresh), 0600u);

    const std::string older = dir.sub("older.log");
    std::ofstream(older) << "2026-01-01 00:00:00 [INFO ] Test: kept\n";
    ASSERT_EQ(::chmod(older.c_str(), 0644), 0);
    openLogFile(older);
    testing::internal::CaptureStderr();
    logLine(LogLevel::Info, "Test: appended");
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(modeOf(older), 0600u);
    EXPECT_EQ(lines(readFileText(older)).size(), 2u);
}

// A FIFO in the log's place, with no reader: opening it does not wait, and
// lines go on to standard error alone.
TEST(LogFile, AFifoInItsPlaceIsNotWaitedOn) {
    test::TempDir dir;
    const std::string fifo = test::makeFifo(dir.path() / "VezoRodarC.log");
    const test::ChildOutput out = test::runInChildForText([&] {
        openLogFile(fifo);
        testing::internal::CaptureStderr();
        logLine(LogLevel::Info, "Test: after the FIFO");
        return testing::internal::GetCapturedStderr();
    });
    ASSERT_EQ(out.end, 0) << out.text;
    EXPECT_NE(out.text.find("[INFO ] Test: after the FIFO"), std::string::npos) << out.text;
}

// Past its size the file moves to "<name>.1", replacing an older one, so the
// log never holds more than about twice the bound on disk.
TEST(LogFile, IsRotatedToOneOlderFilePastItsSize) {
    test::TempDir dir;
    const std::string path = dir.sub("VezoRodarC.log");
    const std::string older = path + ".1";
    constexpr std::uint64_t kBound = 4096;
    const std::string text = "Test: " + std::string(94, 'x');  // lines of 127 bytes

    testing::internal::CaptureStderr();
    openLogFile(path, kBound);
    for (int i = 0; i < 100; ++i) {
        logLine(LogLevel::Info, text + std::to_string(i % 10));
    }
    const std::string stderrText = testing::internal::GetCapturedStderr();
    EXPECT_EQ(lines(stderrText).size(), 100u);

    EXPECT_LE(std::filesystem::file_size(path), kBound);
    EXPECT_LE(std::filesystem::file_size(older), kBound);
    EXPECT_EQ(modeOf(older), 0600u);
    EXPECT_EQ(modeOf(path), 0600u);
    // The newest lines are whole and in order across the two files.
    const std::string both = readFileText(older) + readFileText(path);
    EXPECT_EQ(both, stderrText.substr(stderrText.size() - both.size()));
    EXPECT_GT(lines(readFileText(older)).size(), 30u);  // the older file was full
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        ++files;
    }
    EXPECT_EQ(files, 2u);
}

TEST(LogFile, AFileAlreadyPastItsSizeIsRotatedAtTheFirstLine) {
    test::TempDir dir;
    const std::string path = dir.sub("VezoRodarC.log");
    const std::string earlier(5000, 'e');
    std::ofstream(path) << earlier;
    openLogFile(path, 4096);
    testing::internal::CaptureStderr();
    logLine(LogLevel::Info, "Test: first");
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(readFileText(path + ".1"), earlier);
    EXPECT_EQ(lines(readFileText(path)).size(), 1u);
}

}  // namespace
}  // namespace velk::core
