#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velk::test {

// Whether a line of the log is one record: the logger's
// "YYYY-MM-DD HH:MM:SS [LEVEL] " start, and no control character, C1 control,
// line or paragraph separator or bytes that are no UTF-8, any of which would
// let outside text fake a line of its own.
bool isOneLogRecord(std::string_view line);

// Captures what the logger writes to standard error from construction until
// stop() (or destruction). Only one capture may run at a time.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Ends the capture (once) and returns the lines.
    const std::vector<std::string>& stop();

    // Lines at the level ("ERROR", "WARN", "INFO", "DEBUG") that contain the
    // text; an empty text counts every line of that level.
    int count(std::string_view level, std::string_view text = {});

    // The lines that are not one log record each (isOneLogRecord).
    std::vector<std::string> malformedLines();

private:
    bool running_ = true;
    std::vector<std::string> lines_;
};

}  // namespace velk::test
