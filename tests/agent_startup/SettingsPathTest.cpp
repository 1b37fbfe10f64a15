#include "agent/SettingsPath.h"

#include <filesystem>
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace velk::agent {
namespace {

using ::testing::HasSubstr;

TEST(SettingsPathTest, CreatesTheDataFolderAndNamesTheFile) {
    const test::IsolatedHome home;
    const std::string path = settingsFilePath();
    EXPECT_EQ(path, home.dataHome() + "/VEZORodar/settings.json");
    EXPECT_TRUE(std::filesystem::is_directory(home.dataHome() + "/VEZORodar"));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(settingsFilePath(), path);  // an existing folder is fine
}

TEST(SettingsPathTest, AFolderThatCannotBeMadeRaisesAnErrorNamingIt) {
    const test::IsolatedHome home;
    // A plain file where the data folder's parent should be.
    std::ofstream(home.dataHome()) << "not a folder";
    try {
        settingsFilePath();
        FAIL() << "no error";
    } catch (const std::filesystem::filesystem_error& e) {
        EXPECT_THAT(e.what(), HasSubstr(home.dataHome() + "/VEZORodar"));
    }
}

}  // namespace
}  // namespace velk::agent
