#include "common/Logger.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/TempDir.h"

namespace velk::core {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

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

    const std::string fileText = readFile(path);
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
    EXPECT_EQ(lines(readFile(path)).size(), 4u);
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

    for (const std::string& text : {readFile(path), stderrText}) {
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

}  // namespace
}  // namespace velk::core
