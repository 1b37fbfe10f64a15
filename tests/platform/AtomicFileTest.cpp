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

#include "support/FileText.h"
#include "support/TempDir.h"

namespace velk::platform {
namespace {

using test::readFileText;
using test::writeFileText;
namespace fs = std::filesystem;
using test::TempDir;

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

}  // namespace
}  // namespace velk::platform
