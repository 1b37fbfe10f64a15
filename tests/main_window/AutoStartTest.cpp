#include "platform/AutoStart.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/FileText.h"
#include "support/RecordingProgram.h"
#include "support/TempDir.h"
#include "support/ToolRun.h"

namespace velk::test {
namespace {

using platform::AutoStart;

constexpr std::chrono::seconds kToolDeadline{60};

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
    const std::string entry = readFileText(entryPath());
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u) << entry;
    EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos) << entry;
    EXPECT_EQ(execLineOf(entry), "/opt/vezorodar/VezoRodarC --silent");
    struct stat st {};
    ASSERT_EQ(::stat(entryPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));

    // Enabling again replaces the entry; no temporary file stays behind.
    ASSERT_TRUE(AutoStart::enable("/usr/bin/VezoRodarC", "--silent"));
    EXPECT_EQ(execLineOf(readFileText(entryPath())), "/usr/bin/VezoRodarC --silent");
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

// Bare when nothing in the path needs quoting (xdg-open without a desktop it
// knows runs only a bare program); otherwise quoted as the Desktop Entry
// rules say: inside the double quotes '"', '`', '$' and '\' take a
// backslash, then every backslash of the value is escaped once more as a
// string value. '%' is doubled either way.
TEST_P(AutoStartQuotingTest, ExecQuotesThePathOnlyWhenItNeedsIt) {
    EXPECT_EQ(AutoStart::execLine(GetParam().path, "--silent"), GetParam().exec);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, AutoStartQuotingTest,
    ::testing::Values(
        QuotingCase{"plain", "/opt/v/VezoRodarC", "/opt/v/VezoRodarC --silent"},
        QuotingCase{"packaged", "/usr/lib/vezorodar/VezoRodarC", "/usr/lib/vezorodar/VezoRodarC --silent"},
        QuotingCase{"dots_dashes_plus_at", "/home/u/.local/a-b_c+d@e,f=g/V",
                    "/home/u/.local/a-b_c+d@e,f=g/V --silent"},
        QuotingCase{"blanks", "/home/u/My Apps/VezoRodarC", R"("/home/u/My Apps/VezoRodarC" --silent)"},
        QuotingCase{"tab", "/a\tb/V", R"("/a\tb/V" --silent)"},
        QuotingCase{"double_quote", "/home/u/a\"b/VezoRodarC", R"("/home/u/a\\"b/VezoRodarC" --silent)"},
        QuotingCase{"single_quote", "/home/u/it's/VezoRodarC", R"("/home/u/it's/VezoRodarC" --silent)"},
        QuotingCase{"dollar_backquote", "/a$HOME`x`/V", R"("/a\\$HOME\\`x\\`/V" --silent)"},
        QuotingCase{"backslash", "/a\\b/V", R"("/a\\\\b/V" --silent)"},
        QuotingCase{"tilde", "/a~b/V", R"("/a~b/V" --silent)"},
        QuotingCase{"hash", "/a#b/V", R"("/a#b/V" --silent)"},
        QuotingCase{"glob", "/a*b?/V", R"("/a*b?/V" --silent)"},
        QuotingCase{"shell_operators", "/a;b&c|d<e>f/V", R"("/a;b&c|d<e>f/V" --silent)"},
        QuotingCase{"parentheses", "/a(b)/V", R"("/a(b)/V" --silent)"},
        QuotingCase{"percent", "/a%u/V", "/a%%u/V --silent"},
        QuotingCase{"percent_and_blank", "/a %u/V", R"("/a %%u/V" --silent)"},
        QuotingCase{"cyrillic", "/home/иван/Програми/VezoRodarC", "/home/иван/Програми/VezoRodarC --silent"},
        QuotingCase{"line_break", "/a\nb/V", R"("/a\nb/V" --silent)"},
        QuotingCase{"carriage_return", "/a\rb/V", R"("/a\rb/V" --silent)"}),
    [](const auto& info) { return std::string(info.param.name); });

// The entry read back by a real desktop-entry reader (GLib's, through gio)
// starts the program at its path with "--silent", the path bare or quoted.
TEST_F(AutoStartTest, DesktopLaunchesThePathBareOrQuoted) {
    const ToolRun version = runTool({"/usr/bin/gio", "version"}, {"PATH=/usr/bin:/bin"}, kToolDeadline);
    if (!version.succeeded()) {
        GTEST_SKIP() << "gio cannot run here (package libglib2.0-bin): " << version.describe();
    }
    for (const char* folderName : {"opt/vezorodar", "My \"Agent\" it's $HOME `x` \\ dir"}) {
        SCOPED_TRACE(folderName);
        const std::string program = home.dir().sub(folderName) + "/VezoRodarC";
        const std::string out = home.dir().sub("argv.txt");
        std::filesystem::remove(out);
        writeRecordingProgram(program, out);
        ASSERT_TRUE(AutoStart::enable(program, "--silent"));

        const ToolRun launched = runTool({"/usr/bin/gio", "launch", entryPath()},
                                         {"HOME=" + home.dir().str(), "PATH=/usr/bin:/bin"}, kToolDeadline);
        ASSERT_TRUE(launched.succeeded()) << "gio launch " << launched.describe();
        // gio starts the program and returns; the program writes its arguments.
        EXPECT_EQ(recordedArguments(out), program + "\n--silent\n");
    }
}

// No session starts a program whose path holds '%' (GLib refuses the entry
// whatever the escaping), so no such entry is written; the switch reports
// the failure.
TEST_F(AutoStartTest, APathWithPercentIsNotWritten) {
    const std::string program = home.dir().sub("100%/VezoRodarC");
    writeFileText(program, "#!/bin/sh\n");
    ::chmod(program.c_str(), 0755);
    EXPECT_FALSE(AutoStart::enable(program, "--silent"));
    EXPECT_FALSE(AutoStart::isEnabled());
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
    writeFileText(entryPath(), "[Desktop Entry]\nExec=/usr/bin/another-program\n");
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
    writeFileText(home.configHome(), "not a folder");
    EXPECT_FALSE(AutoStart::enable("/opt/v/VezoRodarC", "--silent"));
    EXPECT_FALSE(AutoStart::isEnabled());
}

}  // namespace
}  // namespace velk::test
