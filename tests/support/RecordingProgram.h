#pragma once

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/FileText.h"
#include "support/PollUntil.h"

namespace velk::test {

// A stand-in for the agent at path that writes its program path and
// arguments, one a line, to the file out (whole, by a rename).
inline void writeRecordingProgram(const std::string& path, const std::string& out) {
    writeFileText(path, "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > '" + out + ".tmp' && mv '" + out +
                            ".tmp' '" + out + "'\n");
    ::chmod(path.c_str(), 0755);
}

// What the stand-in wrote, once it has: an opener may return before the
// program it started has run. A failure, and empty, when it never ran.
inline std::string recordedArguments(const std::string& out) {
    const bool written = pollUntil([&] { return std::filesystem::exists(out); },
                                   [] { std::this_thread::sleep_for(std::chrono::milliseconds(10)); });
    EXPECT_TRUE(written) << "the program never ran: " << out << " was not written";
    return readFileText(out);
}

}  // namespace velk::test
