#include "common/Logger.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace velk::core {

namespace {

struct LogState {
    std::mutex mutex;
    std::FILE* file = nullptr;
};

// Built on first use and never destroyed, so lines logged while other static
// objects are constructed or destroyed still have somewhere to go.
LogState& state() {
    static LogState* s = new LogState;
    return *s;
}

void writeLine(std::FILE* out, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), out);
    std::fflush(out);
}

}  // namespace

std::string_view logLevelName(LogLevel level) {
    switch (level) {
        case LogLevel::Debug:
            return "DEBUG";
        case LogLevel::Info:
            return "INFO ";
        case LogLevel::Warn:
            return "WARN ";
        case LogLevel::Error:
            return "ERROR";
    }
    return "?????";
}

std::string formatLogLine(std::int64_t unixSeconds, LogLevel level, std::string_view text) {
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    char stamp[32] = "0000-00-00 00:00:00";
    if (localtime_r(&t, &local) != nullptr) {
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    }
    std::string line;
    line.reserve(32 + text.size());
    line.append(stamp);
    line.append(" [");
    line.append(logLevelName(level));
    line.append("] ");
    line.append(text);
    return line;
}

void logLine(LogLevel level, std::string_view text) {
    const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::string line = formatLogLine(static_cast<std::int64_t>(now), level, text);
    line.push_back('\n');

    LogState& s = state();
    std::lock_guard lock(s.mutex);
    writeLine(stderr, line);
    if (s.file != nullptr) {
        writeLine(s.file, line);
    }
}

void logError(std::string_view text) {
    logLine(LogLevel::Error, text);
}

void openLogFile(const std::string& path) {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    // "e": the descriptor is not inherited by child processes.
    std::FILE* file = std::fopen(path.c_str(), "ae");
    if (file == nullptr) {
        return;
    }
    if (s.file != nullptr) {
        std::fclose(s.file);
    }
    s.file = file;
}

void flushLog() {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    std::fflush(stderr);
    if (s.file != nullptr) {
        std::fflush(s.file);
    }
}

}  // namespace velk::core
