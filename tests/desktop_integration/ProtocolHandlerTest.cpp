#include "platform/ProtocolHandler.h"

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

#include "platform/DesktopEntry.h"
#include "support/ChildProcess.h"
#include "support/FileText.h"
#include "support/LogCapture.h"
#include "support/RecordingProgram.h"
#include "support/TempDir.h"
#include "support/ToolRun.h"
#include "support/UnusualFiles.h"

namespace velk::test {
namespace {

using platform::ProtocolHandler;

constexpr std::chrono::seconds kToolDeadline{60};

constexpr const char* kDefaultLine = "x-scheme-handler/vezorodar=vezorodar.desktop\n";

class ProtocolHandlerTest : public ::testing::Test {
protected:
    std::string entryPath() const { return home.dataHome() + "/applications/vezorodar.desktop"; }
    std::string mimeAppsPath() const { return home.configHome() + "/mimeapps.list"; }

    // Only the folders of this test: no desktop session, no system folders
    // that might name another handler.
    std::vector<std::string> desktopEnvironment() const {
        return {"HOME=" + home.dir().str(),
                "XDG_DATA_HOME=" + home.dataHome(),
                "XDG_CONFIG_HOME=" + home.configHome(),
                "XDG_DATA_DIRS=" + home.dir().sub("no-system-data"),
                "XDG_CONFIG_DIRS=" + home.dir().sub("no-system-config"),
                "PATH=/usr/bin:/bin"};
    }

    IsolatedHome home;
};

TEST_F(ProtocolHandlerTest, RegisterWritesTheEntryAndTheDefaultHandlerByteForByte) {
    const std::string exe = "/home/иван/Моите програми/VELK agent/VezoRodarC";
    EXPECT_FALSE(ProtocolHandler::isRegistered());
    EXPECT_EQ(ProtocolHandler::entryPath(), entryPath());
    EXPECT_EQ(ProtocolHandler::mimeAppsPath(), mimeAppsPath());

    LogCapture log;
    ASSERT_TRUE(ProtocolHandler::registerHandler(exe));
    EXPECT_EQ(log.count("INFO", "vezorodar:// protocol registered under HKCU"), 1);
    EXPECT_EQ(log.count("ERROR"), 0);

    EXPECT_EQ(readFileText(entryPath()),
              "[Desktop Entry]\n"
              "Type=Application\n"
              "Name=VELK Agent\n"
              "Exec=\"/home/иван/Моите програми/VELK agent/VezoRodarC\" %u\n"
              "Icon=vezorodar\n"
              "Terminal=false\n"
              "NoDisplay=true\n"
              "MimeType=x-scheme-handler/vezorodar;\n");
    EXPECT_EQ(readFileText(mimeAppsPath()), std::string("[Default Applications]\n") + kDefaultLine);
    EXPECT_TRUE(ProtocolHandler::isRegistered());

    // Registering again changes nothing and leaves no temporary files.
    ASSERT_TRUE(ProtocolHandler::registerHandler(exe));
    EXPECT_EQ(readFileText(mimeAppsPath()), std::string("[Default Applications]\n") + kDefaultLine);
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(home.dataHome() + "/applications")) {
        names.push_back(item.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"vezorodar.desktop"});
}

TEST_F(ProtocolHandlerTest, ExecQuotesWhatTheDesktopEntrySpecificationAsks) {
    EXPECT_NE(ProtocolHandler::entryText("/a b/$x`y`\"q\"/100%/V")
                  .find("\nExec=\"/a b/\\\\$x\\\\`y\\\\`\\\\\"q\\\\\"/100%%/V\" %u\n"),
              std::string::npos)
        << ProtocolHandler::entryText("/a b/$x`y`\"q\"/100%/V");
}

struct MergeCase {
    const char* name;
    std::string before;
    std::string after;
};

class MimeAppsMergeTest : public ::testing::TestWithParam<MergeCase> {};

// Every line of the user's file stays as it was, comments, other groups and
// other schemes included; only the scheme's own key is set.
TEST_P(MimeAppsMergeTest, SetsOnlyTheSchemeKey) {
    EXPECT_EQ(ProtocolHandler::withDefaultHandler(GetParam().before), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    Files, MimeAppsMergeTest,
    ::testing::Values(
        MergeCase{"empty", "", std::string("[Default Applications]\n") + kDefaultLine},
        MergeCase{"other_group_only", "[Added Associations]\ntext/plain=gedit.desktop;\n",
                  std::string("[Added Associations]\ntext/plain=gedit.desktop;\n\n[Default Applications]\n") +
                      kDefaultLine},
        MergeCase{
            "no_final_line_end", "# mine\n[Added Associations]\ntext/plain=a.desktop;",
            std::string("# mine\n[Added Associations]\ntext/plain=a.desktop;\n\n[Default Applications]\n") +
                kDefaultLine},
        MergeCase{"group_without_key",
                  "[Default Applications]\ntext/html=firefox.desktop\n\n[Removed "
                  "Associations]\nimage/png=x.desktop\n",
                  std::string("[Default Applications]\ntext/html=firefox.desktop\n") + kDefaultLine +
                      "\n[Removed Associations]\nimage/png=x.desktop\n"},
        MergeCase{
            "key_replaced_in_place",
            "# keep\n[Default Applications]\na/b=1.desktop\nx-scheme-handler/vezorodar=old.desktop;\nc/d=2\n",
            std::string("# keep\n[Default Applications]\na/b=1.desktop\n") + kDefaultLine + "c/d=2\n"},
        MergeCase{"key_with_blanks_and_crlf_and_duplicate",
                  "[Default Applications]\r\nx-scheme-handler/vezorodar = a.desktop\r\nz/z=z\r\n"
                  "x-scheme-handler/vezorodar=b.desktop\r\n",
                  std::string("[Default Applications]\r\n") + kDefaultLine + "z/z=z\r\n"},
        MergeCase{
            "same_key_in_other_group_kept",
            "[Added Associations]\nx-scheme-handler/vezorodar=a.desktop;\n[Default Applications]\n",
            std::string(
                "[Added Associations]\nx-scheme-handler/vezorodar=a.desktop;\n[Default Applications]\n") +
                kDefaultLine},
        MergeCase{"header_at_end_without_line_end", "[Default Applications]",
                  std::string("[Default Applications]\n") + kDefaultLine},
        MergeCase{
            "similar_key_kept", "[Default Applications]\nx-scheme-handler/vezorodarx=a.desktop\n",
            std::string("[Default Applications]\nx-scheme-handler/vezorodarx=a.desktop\n") + kDefaultLine}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProtocolHandlerTest, RegisterKeepsTheUsersLinesAndALinkedFile) {
    const std::string elsewhere = home.dir().sub("dotfiles/mimeapps.list");
    writeFileText(elsewhere, "[Default Applications]\ntext/html=firefox.desktop\n");
    std::filesystem::create_directories(home.configHome());
    std::filesystem::create_symlink(elsewhere, mimeAppsPath());

    ASSERT_TRUE(ProtocolHandler::registerHandler("/opt/v/VezoRodarC"));
    EXPECT_TRUE(std::filesystem::is_symlink(mimeAppsPath()));
    EXPECT_EQ(readFileText(elsewhere),
              std::string("[Default Applications]\ntext/html=firefox.desktop\n") + kDefaultLine);
}

TEST_F(ProtocolHandlerTest, RegisteredNeedsTheEntryAndADefaultLineOfAnyValue) {
    writeFileText(entryPath(), "[Desktop Entry]\nExec=/another/copy %u\n");
    EXPECT_FALSE(ProtocolHandler::isRegistered());
    writeFileText(mimeAppsPath(), "[Added Associations]\nx-scheme-handler/vezorodar=vezorodar.desktop;\n");
    EXPECT_FALSE(ProtocolHandler::isRegistered());
    writeFileText(mimeAppsPath(), "[Default Applications]\nx-scheme-handler/vezorodar=another.desktop\n");
    EXPECT_TRUE(ProtocolHandler::isRegistered());
    std::filesystem::remove(entryPath());
    EXPECT_FALSE(ProtocolHandler::isRegistered());
}

TEST_F(ProtocolHandlerTest, FailuresAreLoggedAndAnswerFalse) {
    {
        LogCapture log;
        EXPECT_FALSE(ProtocolHandler::registerHandler(""));
        EXPECT_FALSE(ProtocolHandler::registerHandler("/opt/v\x01/V"));
        EXPECT_FALSE(ProtocolHandler::registerHandler("/opt/\xff/V"));
        EXPECT_EQ(log.count("ERROR", "ProtocolHandler::registerHandler: empty executable path"), 3);
        EXPECT_FALSE(std::filesystem::exists(home.dataHome()));
        EXPECT_FALSE(std::filesystem::exists(home.configHome()));
    }

    // The configuration folder is a file: the entry is written, the default
    // line is not, and the next start tries again.
    writeFileText(home.configHome(), "not a folder");
    LogCapture log;
    EXPECT_FALSE(ProtocolHandler::registerHandler("/opt/v/VezoRodarC"));
    EXPECT_EQ(log.count("ERROR", "ProtocolHandler::registerHandler: cannot write "), 1);
    EXPECT_EQ(log.count("INFO", "registered"), 0);
    EXPECT_TRUE(std::filesystem::exists(entryPath()));
    EXPECT_FALSE(ProtocolHandler::isRegistered());
}

// A FIFO where the entry or mimeapps.list belongs is the user's: no read
// waits on it, and registering fails with a line naming it, leaving it there.
TEST_F(ProtocolHandlerTest, AFifoInPlaceOfAFileIsNeitherWaitedOnNorReplaced) {
    for (const std::string& path : {entryPath(), mimeAppsPath()}) {
        SCOPED_TRACE(path);
        std::filesystem::remove(entryPath());
        std::filesystem::remove(mimeAppsPath());
        // With an entry in place, the check for a registration reads the list.
        writeFileText(entryPath(), "[Desktop Entry]\nExec=/opt/v/VezoRodarC %u\n");
        std::filesystem::remove(path);
        makeFifo(path);
        const ChildOutput out = runInChildForText([&] {
            LogCapture log;
            const bool registered = ProtocolHandler::isRegistered();
            const bool outdated = ProtocolHandler::hasOutdatedEntryFor("/opt/v/VezoRodarC");
            const bool written = ProtocolHandler::registerHandler("/opt/v/VezoRodarC");
            const int named = log.count(
                "ERROR", "ProtocolHandler::registerHandler: cannot write " + path + " → not a regular file");
            return std::to_string(registered) + std::to_string(outdated) + std::to_string(written) +
                   std::to_string(named);
        });
        ASSERT_EQ(out.end, 0) << out.text;
        EXPECT_EQ(out.text, "0001");
        struct stat st {};
        ASSERT_EQ(::lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
    }
}

// The desktop's own tools read what was written: xdg-mime names the entry as
// the scheme's handler.
TEST_F(ProtocolHandlerTest, XdgMimeNamesTheEntryAsTheSchemesHandler) {
    if (::access("/usr/bin/xdg-mime", X_OK) != 0) {
        GTEST_SKIP() << "xdg-mime is not installed (package xdg-utils; scripts/setup installs it)";
    }
    writeFileText(mimeAppsPath(), "[Default Applications]\ntext/html=firefox.desktop\n");
    ASSERT_TRUE(ProtocolHandler::registerHandler("/home/иван/Моите програми/VezoRodarC"));
    const ToolRun answer = runTool({"/usr/bin/xdg-mime", "query", "default", "x-scheme-handler/vezorodar"},
                                   desktopEnvironment(), kToolDeadline);
    ASSERT_TRUE(answer.succeeded()) << "xdg-mime query: " << answer.describe();
    EXPECT_EQ(answer.out, "vezorodar.desktop\n");
}

// Browsers of the Chromium family hand links to xdg-open, which on a desktop
// it does not recognise reads the entry itself and runs the Exec line's first
// word as the program: the agent at an ordinary path gets the link as its one
// argument.
TEST_F(ProtocolHandlerTest, XdgOpenWithoutARecognisedDesktopStartsTheProgramWithTheLink) {
    if (::access("/usr/bin/xdg-open", X_OK) != 0) {
        GTEST_SKIP() << "xdg-open is not installed (package xdg-utils; scripts/setup installs it)";
    }
    const std::string program = home.dir().sub("opt/vezorodar/VezoRodarC");
    const std::string out = home.dir().sub("argv.txt");
    writeRecordingProgram(program, out);
    ASSERT_TRUE(ProtocolHandler::registerHandler(program));

    for (const std::string link : {"vezorodar://sign?doc=1&x=a%20b", "vezorodar:x"}) {
        SCOPED_TRACE(link);
        std::filesystem::remove(out);
        // A display, so that xdg-open asks for the scheme's handler; no
        // desktop it knows.
        std::vector<std::string> env = desktopEnvironment();
        env.push_back("DISPLAY=:" + std::to_string(9000 + ::getpid() % 1000));
        const ToolRun opened = runTool({"/usr/bin/xdg-open", link}, env, kToolDeadline);
        ASSERT_TRUE(opened.succeeded()) << "xdg-open " << opened.describe();
        EXPECT_EQ(recordedArguments(out), program + "\n" + link + "\n");
    }
}

// GLib opens a vezorodar:// link with the entry: the program at a path with
// blanks, quotes and Cyrillic gets the link as its one argument.
TEST_F(ProtocolHandlerTest, GioOpensALinkWithTheProgramAndTheLinkAsItsArgument) {
    const ToolRun version = runTool({"/usr/bin/gio", "version"}, desktopEnvironment(), kToolDeadline);
    if (!version.succeeded()) {
        GTEST_SKIP() << "gio cannot run here (package libglib2.0-bin): " << version.describe();
    }
    const std::string folder = home.dir().sub("Моите \"програми\" $HOME");
    const std::string program = folder + "/VezoRodarC";
    const std::string out = home.dir().sub("argv.txt");
    writeRecordingProgram(program, out);
    ASSERT_TRUE(ProtocolHandler::registerHandler(program));

    const std::string link = "vezorodar://sign?doc=1&x=a%20b";
    std::vector<std::string> env = desktopEnvironment();
    env.push_back("GIO_USE_VFS=local");
    const ToolRun opened = runTool({"/usr/bin/gio", "open", link}, env, kToolDeadline);
    ASSERT_TRUE(opened.succeeded()) << "gio open " << opened.describe();
    EXPECT_EQ(recordedArguments(out), program + "\n" + link + "\n");
}

// No desktop starts a program whose path holds '%' (GLib refuses the entry
// whatever the escaping): nothing is written, and the log says that links
// cannot reach the agent from there.
TEST_F(ProtocolHandlerTest, APathWithPercentIsNotRegistered) {
    const std::string program = home.dir().sub("100%/VezoRodarC");
    writeRecordingProgram(program, home.dir().sub("argv.txt"));
    LogCapture log;
    EXPECT_FALSE(ProtocolHandler::registerHandler(program));
    EXPECT_EQ(
        log.count("ERROR", "ProtocolHandler::registerHandler: links cannot reach the agent from " + program),
        1);
    EXPECT_EQ(log.count("INFO", "registered"), 0);
    EXPECT_FALSE(std::filesystem::exists(entryPath()));
    EXPECT_FALSE(std::filesystem::exists(mimeAppsPath()));
}

// The program an entry names: the path itself; for a path with '%' the link
// of the same name in the search path when it leads to the same file.
TEST_F(ProtocolHandlerTest, APathWithPercentIsNamedByItsLinkToTheSameProgram) {
    const std::string bin = home.dir().sub("bin");
    const std::string program = home.dir().sub("100%/VezoRodarC");
    const std::string other = home.dir().sub("other/VezoRodarC");
    writeFileText(program, "#!/bin/sh\n");
    writeFileText(other, "#!/bin/sh\n");
    std::filesystem::create_directories(bin);

    EXPECT_EQ(platform::desktopEntryProgram("/opt/v/VezoRodarC", bin), "/opt/v/VezoRodarC");
    EXPECT_EQ(platform::desktopEntryProgram(program, bin), std::nullopt);  // no link
    std::filesystem::create_symlink(other, bin + "/VezoRodarC");
    EXPECT_EQ(platform::desktopEntryProgram(program, bin), std::nullopt);  // another program
    std::filesystem::remove(bin + "/VezoRodarC");
    std::filesystem::create_symlink(program, bin + "/VezoRodarC");
    EXPECT_EQ(platform::desktopEntryProgram(program, bin), bin + "/VezoRodarC");
}

}  // namespace
}  // namespace velk::test
