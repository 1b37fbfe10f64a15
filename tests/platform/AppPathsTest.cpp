#include "platform/AppPaths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
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

mode_t modeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

// The data and log folders hold settings, PINs and a log that names
// certificates: each folder the agent makes is the user's alone.
TEST(AppPaths, FoldersAreCreatedPrivate) {
    const mode_t oldMask = ::umask(022);
    TempDir dir;
    EXPECT_TRUE(createDirectories(dir.sub("data/VEZORodar/Logs")));
    for (const char* folder : {"data", "data/VEZORodar", "data/VEZORodar/Logs"}) {
        EXPECT_EQ(modeOf(dir.sub(folder)), 0700u) << folder;
    }

    // A folder an older version made open to others is made private; the
    // folders above it are not the agent's to change.
    ASSERT_TRUE(fs::create_directories(dir.sub("old/VEZORodar")));
    ::chmod(dir.sub("old").c_str(), 0755);
    ::chmod(dir.sub("old/VEZORodar").c_str(), 0755);
    EXPECT_TRUE(createPrivateFolder(dir.sub("old/VEZORodar")));
    EXPECT_EQ(modeOf(dir.sub("old/VEZORodar")), 0700u);
    EXPECT_EQ(modeOf(dir.sub("old")), 0755u);
    ::umask(oldMask);
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
