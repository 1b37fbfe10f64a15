#include "common/Logger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace velk::core {

namespace {

struct LogState {
    std::mutex mutex;
    std::FILE* file = nullptr;
    std::string path;
    std::uint64_t size = 0;  // bytes in the file, counted rather than asked for
    std::uint64_t maxBytes = kMaxLogFileBytes;
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

// The log names certificates, folders and jobs: the file is the user's alone,
// also when an older version made it readable to others.
std::FILE* openPrivateForAppend(const std::string& path, int extraFlags, std::uint64_t& size) {
    // O_NONBLOCK: opening a FIFO for writing would otherwise wait for a reader.
    const int fd = ::open(
        path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | extraFlags, 0600);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    if ((st.st_mode & 077) != 0) {
        ::fchmod(fd, st.st_mode & 0600);
    }
    std::FILE* file = ::fdopen(fd, "a");
    if (file == nullptr) {
        ::close(fd);
        return nullptr;
    }
    size = static_cast<std::uint64_t>(st.st_size);
    return file;
}

// Under the mutex: the full file becomes "<path>.1" and a new one begins. When
// it cannot be renamed it starts over empty, so the bound holds either way.
void rotate(LogState& s) {
    std::fclose(s.file);
    s.file = nullptr;
    const std::string older = s.path + ".1";
    const int extraFlags = std::rename(s.path.c_str(), older.c_str()) == 0 ? 0 : O_TRUNC;
    s.file = openPrivateForAppend(s.path, extraFlags, s.size);
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
    if (s.file != nullptr && s.size > 0 && s.size + line.size() > s.maxBytes) {
        rotate(s);
    }
    if (s.file != nullptr) {
        writeLine(s.file, line);
        s.size += line.size();
    }
}

void logError(std::string_view text) {
    logLine(LogLevel::Error, text);
}

void openLogFile(const std::string& path, std::uint64_t maxBytes) {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    std::uint64_t size = 0;
    std::FILE* file = openPrivateForAppend(path, 0, size);
    if (file == nullptr) {
        return;
    }
    if (s.file != nullptr) {
        std::fclose(s.file);
    }
    s.file = file;
    s.path = path;
    s.size = size;
    s.maxBytes = maxBytes;
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
