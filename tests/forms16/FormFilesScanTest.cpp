// The form 1 and form 6 folder scans over temporary trees, answered as the web
// application receives them: projected through the scan's schema.
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "common/JsonUtils.h"
#include "features/dec1/Dec1FilesScanInquiry.h"
#include "features/dec6/Dec6FilesScanInquiry.h"
#include "operations/ResultProjection.h"
#include "support/ChildProcess.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace velk::core::features {
namespace {

namespace fs = std::filesystem;

using operations::IInquiry;
using operations::ParamMap;
using testing::HasSubstr;
using testing::StartsWith;

// windows-1251 "Тест" and its UTF-8 form.
const std::string kCp1251Word = "\xD2\xE5\xF1\xF2";
const std::string kUtf8Word = "Тест";

// A form 6 file of the period; what follows the first line is one record.
std::string dec6File(int month, int year, const std::string& eik = "123456789") {
    return eik + ",a,b,c,d,e," + std::to_string(month) + "," + std::to_string(year) +
           ",31/03/2024,f,5,g\r\n" + kCp1251Word + ",1\r\n";
}

std::string dec1File(int month, int year, const std::string& eik = "123456789") {
    return std::to_string(month) + "," + std::to_string(year) + "," + eik + ",8001010000,a,b,c,d\r\n" +
           kCp1251Word + "\r\n";
}

// The scan's typed answer with its files in path order (the walk's order is
// the file system's).
json project(const IInquiry& scan, const operations::InquiryResult& result) {
    json typed = operations::projectInquiryResult(scan.resultSchema(), result);
    std::sort(typed["files"].begin(), typed["files"].end(),
              [](const json& a, const json& b) { return a["path"] < b["path"]; });
    return typed;
}

std::vector<std::string> pathsOf(const json& typed) {
    std::vector<std::string> paths;
    for (const json& file : typed["files"]) {
        paths.push_back(file["path"]);
    }
    return paths;
}

// Drops to the unprivileged user when running as root, where permissions do
// not stop reads. False when that fails.
bool dropPrivileges() {
    if (::geteuid() != 0) {
        return true;
    }
    constexpr gid_t kNobody = 65534;
    return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0 &&
           ::geteuid() == kNobody;
}

class FormFilesScanTest : public testing::Test {
protected:
    // The unprivileged user must reach the tree.
    void SetUp() override {
        fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                         fs::perms::others_read | fs::perms::others_exec);
    }

    void TearDown() override {
        // Folders made unreadable must be readable again to be removed.
        for (const fs::path& path : locked_) {
            fs::permissions(path, fs::perms::owner_all);
        }
    }

    std::string root() const { return dir_.sub("root"); }

    std::string write(const std::string& relative, const std::string& bytes) {
        const fs::path path = fs::path(root()) / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    void lock(const std::string& relative) {
        const fs::path path = fs::path(root()) / relative;
        fs::permissions(path, fs::perms::none);
        locked_.push_back(path);
    }

    json run(const IInquiry& scan, const ParamMap& params) {
        return project(scan, scan.run(nullptr, params));
    }

    // Runs the scan in a child process as an unprivileged user and hands
    // back its typed answer. prepare runs in the child before the scan.
    json runAsNobody(
        const IInquiry& scan, const ParamMap& params,
        const std::function<bool()>& prepare = [] { return true; }) {
        int fds[2];
        if (::pipe(fds) != 0) {
            ADD_FAILURE() << "pipe";
            return {};
        }
        const int end = test::runInChild([&] {
            ::close(fds[0]);
            if (!dropPrivileges()) {
                return 2;
            }
            if (!prepare()) {
                return 3;
            }
            const std::string text = dumpCompact(run(scan, params));
            return ::write(fds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 4;
        });
        ::close(fds[1]);
        std::string text;
        char buffer[4096];
        for (ssize_t n = 0; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(fds[0]);
        EXPECT_EQ(end, 0) << "the child ended with " << end;
        return end == 0 ? json::parse(text) : json::object();
    }

    const dec6::Dec6FilesScanInquiry dec6_;
    const dec1::Dec1FilesScanInquiry dec1_;
    test::TempDir dir_;
    std::vector<fs::path> locked_;
};

TEST_F(FormFilesScanTest, FindsTheFilesOfThePeriodInNestedFolders) {
    write("a/NRA62007.TXT", dec6File(3, 2024));
    write("b/NRA62007.TXT", dec6File(4, 2024));
    write("report.txt", dec6File(3, 2024, "1234567890123"));
    write("report.Txt", dec6File(3, 2024));
    write(".txt", dec6File(3, 2024));
    write("notes.TXT", "not a declaration\r\n");
    write("NRA62007.DAT", dec6File(3, 2024));
    write("a/deep/EMPL2021.TXT", dec1File(3, 2024));
    // A link to a folder is not entered: its files would count twice.
    fs::create_directory_symlink(fs::path(root()) / "a", fs::path(root()) / "link");

    const json typed = run(dec6_, {{"rootFolder", root()}, {"year", "2024.000000"}, {"month", "3.000000"}});
    EXPECT_EQ(typed["status"], "ok");
    EXPECT_TRUE(typed["error"].is_null());
    EXPECT_EQ(typed["totalScanned"], 5);
    EXPECT_EQ(typed["totalMatched"], 2);
    ASSERT_EQ(typed["files"].size(), 2u);
    EXPECT_EQ(typed["files"][0],
              json({{"name", "NRA62007.TXT"},
                    {"path", root() + "/a/NRA62007.TXT"},
                    {"tin", "123456789"},
                    {"content", "123456789,a,b,c,d,e,3,2024,31/03/2024,f,5,g\r\n" + kUtf8Word + ",1\r\n"}}));
    EXPECT_EQ(typed["files"][1]["name"], "report.txt");
    EXPECT_EQ(typed["files"][1]["path"], root() + "/report.txt");
    EXPECT_EQ(typed["files"][1]["tin"], "1234567890123");

    // The form 1 scan of the same tree takes the form 1 file only.
    const json form1 = run(dec1_, {{"rootFolder", root() + "/"}, {"year", "2024"}, {"month", "3"}});
    EXPECT_EQ(form1["totalScanned"], 5);
    EXPECT_EQ(pathsOf(form1), std::vector<std::string>{root() + "/a/deep/EMPL2021.TXT"});
    EXPECT_EQ(form1["files"][0]["content"], "3,2024,123456789,8001010000,a,b,c,d\r\n" + kUtf8Word + "\r\n");
}

TEST_F(FormFilesScanTest, OnlyFalseKeepsTheWalkToTheRootsOwnFiles) {
    write("NRA62007.TXT", dec6File(3, 2024));
    write("sub/NRA62007.TXT", dec6File(3, 2024));
    const std::vector<std::pair<std::string, int>> cases = {
        {"false", 1}, {"False", 2}, {"0", 2}, {"true", 2}, {"", 2},
    };
    for (const auto& [recursive, found] : cases) {
        const json typed =
            run(dec6_, {{"rootFolder", root()}, {"year", "2024"}, {"month", "3"}, {"recursive", recursive}});
        EXPECT_EQ(typed["status"], "ok") << recursive;
        EXPECT_EQ(typed["totalScanned"], found) << recursive;
        EXPECT_EQ(typed["totalMatched"], found) << recursive;
    }
    EXPECT_EQ(run(dec6_, {{"rootFolder", root()}, {"year", "2024"}, {"month", "3"}})["totalMatched"], 2);
}

TEST_F(FormFilesScanTest, ParametersAndRootsThatStopTheScan) {
    const std::string file = write("NRA62007.TXT", dec6File(3, 2024));
    const std::string required = "rootFolder, year, month са задължителни";
    struct Case {
        ParamMap params;
        std::string status;
        std::string error;  // "" when none
        int matched;
    };
    const std::vector<Case> cases = {
        {{{"year", "2024"}, {"month", "3"}}, "error", required, 0},
        {{{"rootFolder", ""}, {"year", "2024"}, {"month", "3"}}, "error", required, 0},
        {{{"rootFolder", root()}, {"year", "0"}, {"month", "3"}}, "error", required, 0},
        {{{"rootFolder", root()}, {"year", ""}, {"month", "3"}}, "error", required, 0},
        {{{"rootFolder", root()}, {"year", "2024"}}, "error", required, 0},
        {{{"rootFolder", root()}, {"year", "x"}, {"month", "3"}}, "error", required, 0},
        {{{"rootFolder", root() + "/missing"}, {"year", "2024"}, {"month", "3"}},
         "error",
         "Папката не съществува: " + root() + "/missing",
         0},
        {{{"rootFolder", file}, {"year", "2024"}, {"month", "3"}},
         "error",
         "Папката не съществува: " + file,
         0},
        {{{"rootFolder", root()}, {"year", "2024x"}, {"month", "3"}}, "ok", "", 1},
        {{{"rootFolder", root()}, {"year", "2024"}, {"month", "13"}}, "ok", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.params));
        const json typed = run(dec6_, c.params);
        EXPECT_EQ(typed["status"], c.status);
        EXPECT_EQ(typed["error"], c.error.empty() ? json() : json(c.error));
        EXPECT_EQ(typed["totalMatched"], c.matched);
        EXPECT_EQ(typed["files"].size(), static_cast<std::size_t>(c.matched));
    }
}

TEST_F(FormFilesScanTest, NamesThatAreNotUtf8AreSkippedWithAWarning) {
    write("NRA62007.TXT", dec6File(3, 2024));
    write("\xCE\xD2\xD7\xC5\xD2.TXT", dec6File(3, 2024));
    write("\xC0\xF0\xF5\xE8\xE2/NRA62007.TXT", dec6File(3, 2024));
    test::LogCapture log;
    const json typed = run(dec6_, {{"rootFolder", root()}, {"year", "2024"}, {"month", "3"}});
    EXPECT_EQ(log.count("WARN", "Dec6: skipped a name that is not UTF-8: "), 2);
    EXPECT_EQ(typed["status"], "ok");
    EXPECT_EQ(typed["totalScanned"], 1);
    EXPECT_EQ(pathsOf(typed), std::vector<std::string>{root() + "/NRA62007.TXT"});
    EXPECT_NO_THROW(dumpCompact(typed));
}

TEST_F(FormFilesScanTest, WhatTheUserMayNotReadIsPassedOver) {
    write("NRA62007.TXT", dec6File(3, 2024));
    write("locked.TXT", dec6File(3, 2024));
    write("closed/NRA62007.TXT", dec6File(3, 2024));
    lock("locked.TXT");
    lock("closed");

    const json typed = runAsNobody(dec6_, {{"rootFolder", root()}, {"year", "2024"}, {"month", "3"}});
    EXPECT_EQ(typed["status"], "ok");
    // The locked file is counted but yields no header; the closed folder is skipped.
    EXPECT_EQ(typed["totalScanned"], 2);
    EXPECT_EQ(pathsOf(typed), std::vector<std::string>{root() + "/NRA62007.TXT"});

    // A root the user may not open is an empty walk.
    const json closed =
        runAsNobody(dec6_, {{"rootFolder", root() + "/closed"}, {"year", "2024"}, {"month", "3"}});
    EXPECT_EQ(closed["status"], "ok");
    EXPECT_EQ(closed["totalScanned"], 0);
}

TEST_F(FormFilesScanTest, AWalkThatEndsOnAnErrorIsNotAFinishedScan) {
    constexpr std::size_t kFreeDescriptors = 8;
    write("l1/NRA62007.TXT", dec6File(3, 2024));
    write("l1/l2/l3/l4/l5/l6/l7/l8/l9/l10/l11/l12/NRA62007.TXT", dec6File(3, 2024));
    test::LogCapture log;
    // The walk holds one descriptor per open folder: with only a few left,
    // opening a deep folder fails with "too many open files".
    const json typed = runAsNobody(dec6_, {{"rootFolder", root()}, {"year", "2024"}, {"month", "3"}}, [] {
        std::vector<int> spare;
        for (int fd = 0; (fd = ::open("/dev/null", O_RDONLY)) >= 0 && spare.size() < 4096;) {
            spare.push_back(fd);
        }
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        const int highest = spare.empty() ? 2 : spare.back();
        limit.rlim_cur = static_cast<rlim_t>(highest + 1);
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            return false;
        }
        // Eight free descriptors, the lowest ones: enough for the first
        // folders, a file and the sanitizers' own pipe, not for the deep ones.
        for (std::size_t i = 0; i < kFreeDescriptors && i < spare.size(); ++i) {
            ::close(spare[i]);
        }
        return spare.size() >= kFreeDescriptors;
    });
    EXPECT_EQ(log.count("WARN", "Dec6: iter error: "), 1);
    ASSERT_TRUE(typed.contains("status"));
    EXPECT_EQ(typed["status"], "error");
    EXPECT_THAT(typed["error"].get<std::string>(), HasSubstr("Too many open files"));
    // What was found before the walk stopped stays.
    EXPECT_EQ(typed["files"].size(), typed["totalMatched"].get<std::size_t>());
    EXPECT_LE(typed["totalMatched"], 1);
}

}  // namespace
}  // namespace velk::core::features
