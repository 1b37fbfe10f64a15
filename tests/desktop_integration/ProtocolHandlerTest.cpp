#include "platform/ProtocolHandler.h"

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

#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace velk::test {
namespace {

using platform::ProtocolHandler;

constexpr const char* kDefaultLine = "x-scheme-handler/vezorodar=vezorodar.desktop\n";

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

// Runs a program with exactly this environment; its standard output, or
// nothing when it could not run or failed.
std::optional<std::string> runProgram(const std::vector<std::string>& argv,
                                      const std::vector<std::string>& env) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return std::nullopt;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        return std::nullopt;
    }
    if (pid == 0) {
        ::dup2(pipeFds[1], 1);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        std::vector<char*> vars;
        for (const auto& v : env) {
            vars.push_back(const_cast<char*>(v.c_str()));
        }
        vars.push_back(nullptr);
        ::execve(argv[0].c_str(), args.data(), vars.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return out;
}

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

    EXPECT_EQ(readFile(entryPath()),
              "[Desktop Entry]\n"
              "Type=Application\n"
              "Name=VELK Agent\n"
              "Exec=\"/home/иван/Моите програми/VELK agent/VezoRodarC\" %u\n"
              "Icon=vezorodar\n"
              "Terminal=false\n"
              "NoDisplay=true\n"
              "MimeType=x-scheme-handler/vezorodar;\n");
    EXPECT_EQ(readFile(mimeAppsPath()), std::string("[Default Applications]\n") + kDefaultLine);
    EXPECT_TRUE(ProtocolHandler::isRegistered());

    // Registering again changes nothing and leaves no temporary files.
    ASSERT_TRUE(ProtocolHandler::registerHandler(exe));
    EXPECT_EQ(readFile(mimeAppsPath()), std::string("[Default Applications]\n") + kDefaultLine);
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
    writeFile(elsewhere, "[Default Applications]\ntext/html=firefox.desktop\n");
    std::filesystem::create_directories(home.configHome());
    std::filesystem::create_symlink(elsewhere, mimeAppsPath());

    ASSERT_TRUE(ProtocolHandler::registerHandler("/opt/v/VezoRodarC"));
    EXPECT_TRUE(std::filesystem::is_symlink(mimeAppsPath()));
    EXPECT_EQ(readFile(elsewhere),
              std::string("[Default Applications]\ntext/html=firefox.desktop\n") + kDefaultLine);
}

TEST_F(ProtocolHandlerTest, RegisteredNeedsTheEntryAndADefaultLineOfAnyValue) {
    writeFile(entryPath(), "[Desktop Entry]\nExec=/another/copy %u\n");
    EXPECT_FALSE(ProtocolHandler::isRegistered());
    writeFile(mimeAppsPath(), "[Added Associations]\nx-scheme-handler/vezorodar=vezorodar.desktop;\n");
    EXPECT_FALSE(ProtocolHandler::isRegistered());
    writeFile(mimeAppsPath(), "[Default Applications]\nx-scheme-handler/vezorodar=another.desktop\n");
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
    writeFile(home.configHome(), "not a folder");
    LogCapture log;
    EXPECT_FALSE(ProtocolHandler::registerHandler("/opt/v/VezoRodarC"));
    EXPECT_EQ(log.count("ERROR", "ProtocolHandler::registerHandler: cannot write "), 1);
    EXPECT_EQ(log.count("INFO", "registered"), 0);
    EXPECT_TRUE(std::filesystem::exists(entryPath()));
    EXPECT_FALSE(ProtocolHandler::isRegistered());
}

// The desktop's own tools read what was written: xdg-mime names the entry as
// the scheme's handler.
TEST_F(ProtocolHandlerTest, XdgMimeNamesTheEntryAsTheSchemesHandler) {
    if (::access("/usr/bin/xdg-mime", X_OK) != 0) {
        GTEST_SKIP() << "xdg-mime is not installed (package xdg-utils; scripts/setup installs it)";
    }
    writeFile(mimeAppsPath(), "[Default Applications]\ntext/html=firefox.desktop\n");
    ASSERT_TRUE(ProtocolHandler::registerHandler("/home/иван/Моите програми/VezoRodarC"));
    const auto answer = runProgram({"/usr/bin/xdg-mime", "query", "default", "x-scheme-handler/vezorodar"},
                                   desktopEnvironment());
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, "vezorodar.desktop\n");
}

// GLib opens a vezorodar:// link with the entry: the program at a path with
// blanks, quotes and Cyrillic gets the link as its one argument.
TEST_F(ProtocolHandlerTest, GioOpensALinkWithTheProgramAndTheLinkAsItsArgument) {
    if (::access("/usr/bin/gio", X_OK) != 0) {
        GTEST_SKIP() << "gio is not installed";
    }
    const std::string folder = home.dir().sub("Моите \"програми\" $HOME");
    std::filesystem::create_directories(folder);
    const std::string program = folder + "/VezoRodarC";
    const std::string out = home.dir().sub("argv.txt");
    writeFile(program, "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > '" + out + ".tmp' && mv '" + out +
                           ".tmp' '" + out + "'\n");
    ::chmod(program.c_str(), 0755);
    ASSERT_TRUE(ProtocolHandler::registerHandler(program));

    const std::string link = "vezorodar://sign?doc=1&x=a%20b";
    std::vector<std::string> env = desktopEnvironment();
    env.push_back("GIO_USE_VFS=local");
    const auto opened = runProgram({"/usr/bin/gio", "open", link}, env);
    if (!opened) {
        GTEST_SKIP() << "gio open cannot run without a desktop session here";
    }
    for (int i = 0; i < 1000 && !std::filesystem::exists(out); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(readFile(out), program + "\n" + link + "\n");
}

}  // namespace
}  // namespace velk::test
