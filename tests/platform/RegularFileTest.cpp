// Files named from outside read whole: only regular files, never a wait on a
// FIFO, and nothing past the bound.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/JsonUtils.h"
#include "platform/RegularFile.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/UnusualFiles.h"

namespace velk::platform {
namespace {

namespace fs = std::filesystem;
using core::json;

const char* statusName(WholeFileStatus status) {
    switch (status) {
        case WholeFileStatus::Read:
            return "read";
        case WholeFileStatus::Unreadable:
            return "unreadable";
        case WholeFileStatus::TooLarge:
            return "too large";
    }
    return "?";
}

TEST(RegularFileTest, OnlyARegularFileWithinTheBoundIsRead) {
    test::TempDir dir;
    const auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(dir.path() / name, std::ios::binary) << bytes;
        return dir.sub(name);
    };
    fs::create_directory(dir.path() / "folder");
    fs::create_symlink(write("target", "linked"), dir.path() / "link");
    test::makeFifo(dir.path() / "fifo");
    test::makeSocketFile(dir.path() / "socket");
    constexpr std::uint64_t kSmallBound = 8;
    struct Case {
        std::string path;
        std::uint64_t maxBytes;
        std::string status;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {write("bytes", std::string("x\0y", 3)), kMaxWholeFileBytes, "read", std::string("x\0y", 3)},
        {write("empty", ""), kMaxWholeFileBytes, "read", ""},
        {dir.sub("link"), kMaxWholeFileBytes, "read", "linked"},
        {write("at-bound", "12345678"), kSmallBound, "read", "12345678"},
        {write("past-bound", "123456789"), kSmallBound, "too large", ""},
        {test::writeSparseFile(dir.path() / "huge", "head", kMaxWholeFileBytes + 1), kMaxWholeFileBytes,
         "too large", ""},
        {dir.sub("fifo"), kMaxWholeFileBytes, "unreadable", ""},
        {dir.sub("socket"), kMaxWholeFileBytes, "unreadable", ""},
        {"/dev/zero", kMaxWholeFileBytes, "unreadable", ""},
        {dir.sub("folder"), kMaxWholeFileBytes, "unreadable", ""},
        {dir.sub("missing"), kMaxWholeFileBytes, "unreadable", ""},
        {"", kMaxWholeFileBytes, "unreadable", ""},
    };
    // In a child: a reader that waits on the FIFO must fail the test, not
    // hold it.
    const test::ChildOutput out = test::runInChildForText([&] {
        json answers = json::array();
        for (const Case& c : cases) {
            std::string bytes = "untouched";
            const WholeFileStatus status = readWholeRegularFile(c.path, bytes, c.maxBytes);
            answers.push_back({statusName(status), status == WholeFileStatus::Read ? bytes : ""});
        }
        return answers.dump();
    });
    ASSERT_EQ(out.end, 0) << out.text;
    const json answers = json::parse(out.text);
    ASSERT_EQ(answers.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].path);
        EXPECT_EQ(answers[i][0], cases[i].status);
        EXPECT_EQ(answers[i][1].get<std::string>(), cases[i].bytes);
    }
}

}  // namespace
}  // namespace velk::platform
