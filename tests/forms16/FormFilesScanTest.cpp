// The form 1 and form 6 folder scans over temporary trees, answered as the web
// application receives them: projected through the scan's schema. What the
// three folder scans share is tested over all three in FolderScansTest.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/JsonUtils.h"
#include "features/dec1/Dec1FilesScanInquiry.h"
#include "features/dec6/Dec6FilesScanInquiry.h"
#include "operations/ResultProjection.h"
#include "support/ChildProcess.h"
#include "support/FileText.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace velk::core::features {
namespace {

namespace fs = std::filesystem;

using operations::IInquiry;
using operations::ParamMap;

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

    std::string write(const std::string& relative, const std::string& bytes) const {
        return test::writeFileBelow(root(), relative, bytes);
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
    // back its typed answer.
    json runAsNobody(const IInquiry& scan, const ParamMap& params) {
        const test::ChildOutput out = test::runInChildForText([&] {
            if (!test::dropToNobody()) {
                throw std::runtime_error("cannot drop privileges");
            }
            return dumpCompact(run(scan, params));
        });
        EXPECT_EQ(out.end, 0) << out.text;
        return out.end == 0 ? json::parse(out.text) : json::object();
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

TEST_F(FormFilesScanTest, NamesThatAreNotUtf8AreSkippedWithAWarning) {
    write("NRA62007.TXT", dec6File(3, 2024));
    write("\xCE\xD2\xD7\xC5\xD2.TXT", dec6File(3, 2024));
    write("\xC0\xF0\xF5\xE8\xE2/NRA62007.TXT", dec6File(3, 2024));
    test::LogCapture log;
    const json typed = run(dec6_, {{"rootFolder", root()}, {"year", "2024"}, {"month", "3"}});
    EXPECT_EQ(log.count("WARN", "Dec6: skipped a name that is not UTF-8: "), 2);
    // Each stray byte is spelled out, so the line tells which file it was.
    EXPECT_EQ(log.count("WARN", "Dec6: skipped a name that is not UTF-8: " + root() +
                                    "/\\xCE\\xD2\\xD7\\xC5\\xD2.TXT"),
              1);
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

}  // namespace
}  // namespace velk::core::features
