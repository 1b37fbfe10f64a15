#include "platform/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/JsonUtils.h"
#include "support/ChildProcess.h"
#include "support/FileText.h"
#include "support/TempDir.h"
#include "support/UnusualFiles.h"

namespace velk::platform {
namespace {

using test::readFileText;
using test::writeFileText;
namespace fs = std::filesystem;
using core::json;
using test::TempDir;

bool isFifo(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

std::vector<std::string> entries(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Only what the writer itself names its temporary file goes; a crash leaves
// such a file behind, and a copy of pins.dat may hold a PIN since removed.
TEST(StaleTemporaryFiles, OnlyTheWritersOwnPatternIsRemoved) {
    TempDir dir;
    const std::string target = dir.sub("pins.dat");
    writeFileText(target, "{}");
    // A real leftover: the writer's own name, from a write that failed.
    std::string leftover = target + ".tmp-XXXXXX";
    ASSERT_GE(::mkstemp(leftover.data()), 0);
    const std::vector<std::string> stale = {fs::path(leftover).filename().string(), "pins.dat.tmp-a1B2c3",
                                            "pins.dat.tmp-000000"};
    const std::vector<std::string> other = {"pins.dat",
                                            "pins.dat.tmp-a1B2c",
                                            "pins.dat.tmp-a1B2c3d",
                                            "pins.dat.tmp-a1B2c!",
                                            "pins.dat.tmp-a1B2-3",
                                            "xpins.dat.tmp-a1B2c3",
                                            "settings.json.tmp-a1B2c3",
                                            "pins.dat.bad",
                                            "pins.dat.tmp-"};
    for (const auto& name : stale) {
        writeFileText(dir.sub(name), "{\"X\":\"old\"}");
    }
    for (const auto& name : other) {
        if (name != "pins.dat") {
            writeFileText(dir.sub(name), "x");
        }
    }
    // Not regular files: never the writer's.
    fs::create_directory(dir.sub("pins.dat.tmp-Folder"));
    fs::create_symlink(dir.sub("pins.dat.bad"), dir.sub("pins.dat.tmp-Link12"));

    EXPECT_EQ(removeStaleTemporaryFiles(target), static_cast<int>(stale.size()));
    std::vector<std::string> expected = other;
    expected.push_back("pins.dat.tmp-Folder");
    expected.push_back("pins.dat.tmp-Link12");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(entries(dir), expected);
    EXPECT_EQ(readFileText(dir.sub("pins.dat.bad")), "x");
    EXPECT_EQ(removeStaleTemporaryFiles(target), 0);
    EXPECT_EQ(removeStaleTemporaryFiles(dir.sub("missing/pins.dat")), 0);
}

TEST(KeepUnderFreeName, NeverReplacesAKeptFile) {
    TempDir dir;
    const std::string path = dir.sub("settings.json");
    const std::string stem = path + ".bad";
    std::vector<std::string> kept;
    for (const std::string text : {"first", "second", "third"}) {
        writeFileText(path, text);
        std::string keptAs;
        ASSERT_EQ(keepUnderFreeName(path, stem, KeepMode::Move, keptAs), 0);
        kept.push_back(keptAs);
        EXPECT_FALSE(fs::exists(path));
    }
    EXPECT_EQ(kept, (std::vector<std::string>{stem, stem + ".1", stem + ".2"}));
    EXPECT_EQ(readFileText(stem), "first");
    EXPECT_EQ(readFileText(stem + ".2"), "third");

    // A copy leaves the file where it is, private to the user.
    writeFileText(path, "fourth");
    std::string keptAs;
    ASSERT_EQ(keepUnderFreeName(path, stem, KeepMode::Copy, keptAs), 0);
    EXPECT_EQ(keptAs, stem + ".3");
    EXPECT_EQ(readFileText(keptAs), "fourth");
    EXPECT_EQ(readFileText(path), "fourth");
    struct stat st {};
    ASSERT_EQ(::stat(keptAs.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(readFileText(stem), "first");

    EXPECT_EQ(keepUnderFreeName(dir.sub("missing"), stem, KeepMode::Copy, keptAs), ENOENT);
    EXPECT_EQ(keepUnderFreeName(dir.sub("missing"), stem, KeepMode::Move, keptAs), ENOENT);
}

// The user's own files read whole: a regular file within the bound, else the
// reason, and never a wait on a FIFO.
TEST(ReadWholeFile, ReadsOnlyARegularFileWithinTheBound) {
    TempDir dir;
    const auto write = [&](const std::string& name, const std::string& bytes) {
        writeFileText(dir.sub(name), bytes);
        return dir.sub(name);
    };
    fs::create_directory(dir.path() / "folder");
    fs::create_symlink(write("target", "linked"), dir.path() / "link");
    test::makeFifo(dir.path() / "fifo");
    fs::create_symlink(dir.path() / "fifo", dir.path() / "link-to-fifo");
    test::makeSocketFile(dir.path() / "socket");
    constexpr std::uint64_t kSmallBound = 8;
    struct Case {
        std::string path;
        std::uint64_t maxBytes;
        int error;
        std::string contents;
    };
    const std::vector<Case> cases = {
        {write("bytes", std::string("x\0y", 3)), kMaxSmallFileBytes, 0, std::string("x\0y", 3)},
        {write("empty", ""), kMaxSmallFileBytes, 0, ""},
        {dir.sub("link"), kMaxSmallFileBytes, 0, "linked"},
        {write("at-bound", "12345678"), kSmallBound, 0, "12345678"},
        {write("past-bound", "123456789"), kSmallBound, EFBIG, ""},
        {test::writeSparseFile(dir.path() / "huge", "{}", kMaxSmallFileBytes + 1), kMaxSmallFileBytes, EFBIG,
         ""},
        {dir.sub("missing"), kMaxSmallFileBytes, ENOENT, ""},
        {dir.sub("folder"), kMaxSmallFileBytes, EISDIR, ""},
        {dir.sub("fifo"), kMaxSmallFileBytes, kNotRegularFileError, ""},
        {dir.sub("link-to-fifo"), kMaxSmallFileBytes, kNotRegularFileError, ""},
        {dir.sub("socket"), kMaxSmallFileBytes, kNotRegularFileError, ""},
        {"/dev/null", kMaxSmallFileBytes, kNotRegularFileError, ""},
    };
    // In a child: a reader that waits on the FIFO must fail the test, not
    // hold it.
    const test::ChildOutput out = test::runInChildForText([&] {
        json answers = json::array();
        for (const Case& c : cases) {
            std::string contents = "left over";
            const int error = readWholeFile(c.path, contents, c.maxBytes);
            answers.push_back({error, contents});
        }
        return answers.dump();
    });
    ASSERT_EQ(out.end, 0) << out.text;
    const json answers = json::parse(out.text);
    ASSERT_EQ(answers.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].path);
        EXPECT_EQ(answers[i][0], cases[i].error) << fileErrorText(answers[i][0]);
        EXPECT_EQ(answers[i][1].get<std::string>(), cases[i].contents);
    }
    EXPECT_EQ(fileErrorText(kNotRegularFileError), "not a regular file");
}

// A FIFO, a socket or a device where a file is written or kept aside is the
// user's: writing never replaces it, keeping never moves it, and neither waits.
TEST(SpecialFiles, AreNeverReplacedOrMoved) {
    TempDir dir;
    test::makeFifo(dir.path() / "fifo");
    fs::create_symlink(dir.path() / "fifo", dir.path() / "link-to-fifo");
    test::makeSocketFile(dir.path() / "socket");
    fs::create_symlink("/dev/null", dir.path() / "link-to-device");
    const std::vector<std::string> names = {"fifo", "link-to-fifo", "socket", "link-to-device"};
    const auto kinds = [&] {
        std::vector<fs::file_type> out;
        for (const std::string& name : names) {
            out.push_back(fs::symlink_status(dir.path() / name).type());
        }
        return out;
    };
    const std::vector<fs::file_type> before = kinds();
    const std::vector<std::string> entriesBefore = entries(dir);

    const test::ChildOutput out = test::runInChildForText([&] {
        json answers = json::array();
        for (const std::string& name : names) {
            const std::string path = dir.sub(name);
            std::string keptAs;
            answers.push_back({writeFileAtomically(path, "{}"),
                               keepUnderFreeName(path, path + ".bad", KeepMode::Move, keptAs),
                               keepUnderFreeName(path, path + ".bad", KeepMode::Copy, keptAs)});
        }
        return answers.dump();
    });
    ASSERT_EQ(out.end, 0) << out.text;
    const json answers = json::parse(out.text);
    ASSERT_EQ(answers.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(answers[i],
                  json::array({kNotRegularFileError, kNotRegularFileError, kNotRegularFileError}));
    }
    EXPECT_EQ(kinds(), before);
    EXPECT_TRUE(isFifo(dir.sub("fifo")));
    EXPECT_EQ(entries(dir), entriesBefore);  // no temporary or kept copy either
}

}  // namespace
}  // namespace velk::platform
