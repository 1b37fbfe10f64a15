#include "support/LogCapture.h"

#include <sstream>

#include <gtest/gtest.h>

#include "common/TextUtils.h"

namespace velk::test {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// "YYYY-MM-DD HH:MM:SS [LEVEL] ": the digits where the pattern has 'D'.
bool hasRecordStart(std::string_view line) {
    constexpr std::string_view kPattern = "DDDD-DD-DD DD:DD:DD [";
    if (line.size() < kPattern.size() + 7) {
        return false;
    }
    for (std::size_t i = 0; i < kPattern.size(); ++i) {
        if (kPattern[i] == 'D' ? !isDigit(line[i]) : line[i] != kPattern[i]) {
            return false;
        }
    }
    const std::string_view level = line.substr(kPattern.size(), 7);
    return level == "DEBUG] " || level == "INFO ] " || level == "WARN ] " || level == "ERROR] ";
}

bool holdsLineBreakOrControl(std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c < 0x20 || c == 0x7F) {
            return true;
        }
        if (c == 0xC2 && i + 1 < line.size() && static_cast<unsigned char>(line[i + 1]) <= 0x9F) {
            return true;
        }
    }
    return line.find("\xE2\x80\xA8") != std::string_view::npos ||
           line.find("\xE2\x80\xA9") != std::string_view::npos;
}

}  // namespace

bool isOneLogRecord(std::string_view line) {
    return hasRecordStart(line) && core::isValidUtf8(line) && !holdsLineBreakOrControl(line);
}

LogCapture::LogCapture() {
    testing::internal::CaptureStderr();
}

LogCapture::~LogCapture() {
    stop();
}

const std::vector<std::string>& LogCapture::stop() {
    if (running_) {
        running_ = false;
        std::istringstream in(testing::internal::GetCapturedStderr());
        for (std::string line; std::getline(in, line);) {
            lines_.push_back(line);
        }
    }
    return lines_;
}

std::vector<std::string> LogCapture::malformedLines() {
    std::vector<std::string> out;
    for (const auto& line : stop()) {
        if (!isOneLogRecord(line)) {
            out.push_back(line);
        }
    }
    return out;
}

int LogCapture::count(std::string_view level, std::string_view text) {
    // The logger pads the level to five characters inside the brackets.
    std::string tag = "[" + std::string(level);
    tag.resize(6, ' ');
    tag += "]";
    int n = 0;
    for (const auto& line : stop()) {
        if (line.find(tag) != std::string::npos && line.find(text) != std::string::npos) {
            ++n;
        }
    }
    return n;
}

}  // namespace velk::test
