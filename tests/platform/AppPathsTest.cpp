#include "platform/AppPaths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/TempDir.h"

namespace velk::platform {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnv;
using test::TempDir;

TEST(AppPaths, FoldersFollowXdgDataHome) {
    TempDir dir;
    ScopedEnv data("XDG_DATA_HOME", dir.sub("data"));
    ScopedEnv config("XDG_CONFIG_HOME", dir.sub("config"));
    EXPECT_EQ(localAppDataDir(), dir.sub("data"));
    EXPECT_EQ(configDir(), dir.sub("config"));
    EXPECT_EQ(dataDir(), dir.sub("data/VEZORodar"));
    EXPECT_EQ(logsDir(), dir.sub("data/VEZORodar/Logs"));
    EXPECT_EQ(zezizUrDir(), dir.sub("data/VEZORodar/ZezizUR"));
    EXPECT_EQ(zezizUrJarDir(), zezizUrDir());
    EXPECT_EQ(zezizUrNativeDir(), dir.sub("data/VEZORodar/ZezizUR/native"));
    EXPECT_EQ(zezizUrWrapperDir(), dir.sub("data/VEZORodar/ZezizUR/wrapper"));
}

TEST(AppPaths, FallsBackToHomeThenToTheUserDatabase) {
    TempDir dir;
    {
        ScopedEnv data("XDG_DATA_HOME", std::nullopt);
        ScopedEnv config("XDG_CONFIG_HOME", "relative/ignored");
        ScopedEnv home("HOME", dir.str());
        EXPECT_EQ(localAppDataDir(), dir.sub(".local/share"));
        EXPECT_EQ(configDir(), dir.sub(".config"));
    }
    {
        ScopedEnv data("XDG_DATA_HOME", "");
        ScopedEnv home("HOME", std::nullopt);
        const std::string fromPasswd = localAppDataDir();
        // Never relative to the current folder.
        ASSERT_FALSE(fromPasswd.empty());
        EXPECT_EQ(fromPasswd.front(), '/');
        EXPECT_TRUE(fromPasswd.ends_with("/.local/share"));
    }
}

TEST(AppPaths, CreateDirectoriesWithCyrillicNames) {
    TempDir dir;
    const std::string nested = dir.sub("Потребител/данни/VEZORodar");
    EXPECT_TRUE(createDirectories(nested));
    EXPECT_TRUE(fs::is_directory(nested));
    EXPECT_TRUE(createDirectories(nested));  // existing is fine

    const std::string file = joinPath(nested, "файл.txt");
    std::ofstream(file) << "x";
    EXPECT_TRUE(fs::exists(file));
    EXPECT_FALSE(createDirectories(joinPath(file, "below")));  // a file is in the way
    EXPECT_FALSE(createDirectories(""));
}

TEST(AppPaths, JoinPath) {
    EXPECT_EQ(joinPath("a", "b"), "a/b");
    EXPECT_EQ(joinPath("a/", "b"), "a/b");
    EXPECT_EQ(joinPath("", "b"), "b");
    EXPECT_EQ(joinPath("/", "b"), "/b");
}

TEST(AppPaths, ExecutableDirAndShortNames) {
    const fs::path exe = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(executableDir(), exe.parent_path().string());
    EXPECT_EQ(shortPathName("/does/not/exist"), "/does/not/exist");
    EXPECT_EQ(shortPathName(exe.string()), exe.string());
}

}  // namespace
}  // namespace velk::platform
