#include "support/LogCapture.h"

#include <sstream>

#include <gtest/gtest.h>

namespace velk::test {

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
