#include "platform/AutoStart.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace velk::test {
namespace {

using platform::AutoStart;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string execLineOf(const std::string& entry) {
    std::istringstream lines(entry);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("Exec=", 0) == 0) {
            return line.substr(5);
        }
    }
    return {};
}

class AutoStartTest : public ::testing::Test {
protected:
    std::string entryPath() const { return home.configHome() + "/autostart/VezoRodar.desktop"; }

    IsolatedHome home;
};

TEST_F(AutoStartTest, EnableWritesTheEntryThatStartsTheAgentSilently) {
    EXPECT_FALSE(AutoStart::isEnabled());
    EXPECT_EQ(AutoStart::entryPath(), entryPath());

    ASSERT_TRUE(AutoStart::enable("/opt/vezorodar/VezoRodarC", "--silent"));
    EXPECT_TRUE(AutoStart::isEnabled());
    const std::string entry = readFile(entryPath());
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u) << entry;
    EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos) << entry;
    EXPECT_EQ(execLineOf(entry), "\"/opt/vezorodar/VezoRodarC\" --silent");
    struct stat st {};
    ASSERT_EQ(::stat(entryPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));

    // Enabling again replaces the entry; no temporary file stays behind.
    ASSERT_TRUE(AutoStart::enable("/usr/bin/VezoRodarC", "--silent"));
    EXPECT_EQ(execLineOf(readFile(entryPath())), "\"/usr/bin/VezoRodarC\" --silent");
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(home.configHome() + "/autostart")) {
        names.push_back(item.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"VezoRodar.desktop"});
}

struct QuotingCase {
    const char* name;
    std::string path;
    std::string exec;
};

class AutoStartQuotingTest : public ::testing::TestWithParam<QuotingCase> {};

// Quoted as the Desktop Entry Specification says: inside the double quotes
// '"', '`', '$' and '\' take a backslash, then every backslash of the value
// is escaped once more as a string value; '%' is doubled.
TEST_P(AutoStartQuotingTest, ExecQuotesThePath) {
    EXPECT_EQ(AutoStart::execLine(GetParam().path, "--silent"), GetParam().exec);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, AutoStartQuotingTest,
    ::testing::Values(
        QuotingCase{"plain", "/opt/v/VezoRodarC", R"("/opt/v/VezoRodarC" --silent)"},
        QuotingCase{"blanks", "/home/u/My Apps/VezoRodarC", R"("/home/u/My Apps/VezoRodarC" --silent)"},
        QuotingCase{"double_quote", "/home/u/a\"b/VezoRodarC", R"("/home/u/a\\"b/VezoRodarC" --silent)"},
        QuotingCase{"single_quote", "/home/u/it's/VezoRodarC", R"("/home/u/it's/VezoRodarC" --silent)"},
        QuotingCase{"dollar_backquote", "/a$HOME`x`/V", R"("/a\\$HOME\\`x\\`/V" --silent)"},
        QuotingCase{"backslash", "/a\\b/V", R"("/a\\\\b/V" --silent)"},
        QuotingCase{"percent", "/a%u/V", R"("/a%%u/V" --silent)"},
        QuotingCase{"cyrillic", "/home/иван/Програми/VezoRodarC",
                    R"("/home/иван/Програми/VezoRodarC" --silent)"},
        QuotingCase{"line_break", "/a\nb/V", R"("/a\nb/V" --silent)"}),
    [](const auto& info) { return std::string(info.param.name); });

// The entry read back by a real desktop-entry reader (GLib's, through gio)
// starts the program at its path with "--silent".
TEST_F(AutoStartTest, DesktopLaunchesThePathWithBlanksAndQuotes) {
    if (::access("/usr/bin/gio", X_OK) != 0) {
        GTEST_SKIP() << "gio is not installed";
    }
    const std::string folder = home.dir().sub("My \"Agent\" it's $HOME `x` \\ dir");
    std::filesystem::create_directories(folder);
    const std::string program = folder + "/VezoRodarC";
    const std::string out = home.dir().sub("argv.txt");
    writeFile(program, "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > '" + out + ".tmp' && mv '" + out +
                           ".tmp' '" + out + "'\n");
    ::chmod(program.c_str(), 0755);
    ASSERT_TRUE(AutoStart::enable(program, "--silent"));

    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::execl("/usr/bin/gio", "gio", "launch", entryPath().c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "gio launch failed";
    // gio starts the program and returns; the program writes its arguments.
    for (int i = 0; i < 1000 && !std::filesystem::exists(out); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(readFile(out), program + "\n--silent\n");
}

TEST_F(AutoStartTest, DisableRemovesTheEntryAndAnswersTrueWhenAbsent) {
    EXPECT_TRUE(AutoStart::disable());  // neither folder nor entry
    ASSERT_TRUE(AutoStart::enable("/opt/v/VezoRodarC", "--silent"));
    EXPECT_TRUE(AutoStart::disable());
    EXPECT_FALSE(AutoStart::isEnabled());
    EXPECT_FALSE(std::filesystem::exists(entryPath()));
    EXPECT_TRUE(AutoStart::disable());
}

TEST_F(AutoStartTest, AnyExistingEntryCountsAsEnabled) {
    writeFile(entryPath(), "[Desktop Entry]\nExec=/usr/bin/another-program\n");
    EXPECT_TRUE(AutoStart::isEnabled());
}

TEST_F(AutoStartTest, FailuresAnswerFalse) {
    // An entry that cannot be removed: a folder of that name with content.
    std::filesystem::create_directories(entryPath() + "/inside");
    EXPECT_FALSE(AutoStart::disable());
    EXPECT_FALSE(AutoStart::enable("/opt/v/VezoRodarC", "--silent"));
    std::filesystem::remove_all(entryPath());

    // Nothing a desktop entry can hold is written.
    EXPECT_FALSE(AutoStart::enable("", "--silent"));
    EXPECT_FALSE(AutoStart::enable(std::string("/opt/v\x01/V"), "--silent"));
    EXPECT_FALSE(AutoStart::enable(std::string("/opt/\xff/V"), "--silent"));
    EXPECT_FALSE(AutoStart::enable(std::string("/opt/v\0x/V", 10), "--silent"));
    EXPECT_FALSE(AutoStart::isEnabled());

    // The autostart folder cannot be made: the configuration folder is a file.
    std::filesystem::remove_all(home.configHome());
    writeFile(home.configHome(), "not a folder");
    EXPECT_FALSE(AutoStart::enable("/opt/v/VezoRodarC", "--silent"));
    EXPECT_FALSE(AutoStart::isEnabled());
}

}  // namespace
}  // namespace velk::test
