#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velk::core {

// Process-wide log: every line goes to standard error and, once openLogFile
// has succeeded, to the log file. Safe from any thread and during static
// initialisation.
enum class LogLevel : std::int32_t { Debug = 0, Info = 1, Warn = 2, Error = 3 };

// Exactly five characters: "DEBUG", "INFO ", "WARN ", "ERROR", else "?????".
std::string_view logLevelName(LogLevel level);

// "YYYY-MM-DD HH:MM:SS [LEVEL] text", without the line break.
std::string formatLogLine(std::int64_t unixSeconds, LogLevel level, std::string_view text);

void logLine(LogLevel level, std::string_view text);
void logError(std::string_view text);

// Past this size the log file is renamed to "<path>.1" (replacing the older
// one) and a new file begun, so no caller can fill the disk through the log.
inline constexpr std::uint64_t kMaxLogFileBytes = 10 * 1024 * 1024;

// Opens the file for appending (created when missing), private to the user
// (0600). On failure lines keep going to standard error only.
void openLogFile(const std::string& path, std::uint64_t maxBytes = kMaxLogFileBytes);
void flushLog();

}  // namespace velk::core
