// What the three folder scans (form 6, form 1 and VAT returns) share, over
// temporary trees, each rule one table over the three: the parameters, the
// recursive flag, a walk that ends early, and files that must not stop a scan.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/JsonUtils.h"
#include "features/dec1/Dec1FilesScanInquiry.h"
#include "features/dec6/Dec6FilesScanInquiry.h"
#include "features/vat/VatFilesScanInquiry.h"
#include "operations/ResultProjection.h"
#include "platform/RegularFile.h"
#include "support/ChildProcess.h"
#include "support/FileText.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/UnusualFiles.h"

namespace velk::core::features {
namespace {

namespace fs = std::filesystem;

using operations::IInquiry;
using operations::ParamMap;
using testing::HasSubstr;

// One scan and what makes a match for it: a file of the period named
// fileName in a folder (for the VAT scan, the folder holding it).
struct ScanKind {
    const char* name;
    const IInquiry& scan;
    const char* logPrefix;
    const char* fileName;
    std::string (*firstLine)(int month, int year);
};

std::string dec6Line(int month, int year) {
    return "123456789,a,b,c,d,e," + std::to_string(month) + "," + std::to_string(year) + ",31/03/2024,f,5,g";
}

std::string dec1Line(int month, int year) {
    return std::to_string(month) + "," + std::to_string(year) + ",123456789,8001010000,a,b,c,d";
}

// The VAT number, the name and the period YYYYMM at their byte offsets.
std::string deklarLine(int month, int year) {
    std::string line = "BG123456789";
    line.resize(15, ' ');
    line += "Test";
    line.resize(65, ' ');
    return line + std::to_string(year) + (month < 10 ? "0" : "") + std::to_string(month);
}

const dec6::Dec6FilesScanInquiry kDec6;
const dec1::Dec1FilesScanInquiry kDec1;
const vat::VatFilesScanInquiry kVat;

const std::vector<ScanKind> kScans = {
    {"dec6", kDec6, "Dec6", "NRA62007.TXT", dec6Line},
    {"dec1", kDec1, "Dec1", "EMPL2021.TXT", dec1Line},
    {"vat", kVat, "Vat", "DEKLAR.TXT", deklarLine},
};

class FolderScansTest : public testing::Test {
protected:
    // The unprivileged user of a child must reach the tree.
    void SetUp() override {
        fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    }

    std::string root() const { return dir_.sub("root"); }

    std::string write(const std::string& relative, const std::string& bytes) const {
        return test::writeFileBelow(root(), relative, bytes);
    }

    // A file of the period in the folder (relative to the root, "" for the
    // root itself).
    std::string writeMatch(const ScanKind& kind, const std::string& folder, int month = 3, int year = 2024) {
        return write((fs::path(folder) / kind.fileName).string(), kind.firstLine(month, year) + "\r\n");
    }

    static json run(const ScanKind& kind, const ParamMap& params) {
        return operations::projectInquiryResult(kind.scan.resultSchema(), kind.scan.run(nullptr, params));
    }

    ParamMap march() const { return {{"rootFolder", root()}, {"year", "2024"}, {"month", "3"}}; }

    // The scan run in a child, which may hang or exhaust its descriptors
    // without harm to the test; prepare runs in the child first.
    json runInChild(
        const ScanKind& kind, const ParamMap& params,
        const std::function<bool()>& prepare = [] { return true; }) {
        const test::ChildOutput out = test::runInChildForText([&] {
            if (!prepare()) {
                throw std::runtime_error("the child could not be prepared");
            }
            return dumpCompact(run(kind, params));
        });
        EXPECT_EQ(out.end, 0) << out.text;
        return out.end == 0 ? json::parse(out.text) : json::object();
    }

    static std::vector<std::string> paths(const json& typed) {
        std::vector<std::string> out;
        for (const json& file : typed["files"]) {
            out.push_back(file["path"]);
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    void clear() {
        fs::remove_all(root());
        fs::create_directories(root());
    }

    test::TempDir dir_;
};

TEST_F(FolderScansTest, ParametersAndRootsThatStopTheScan) {
    const std::string required = "rootFolder, year, month са задължителни";
    struct Case {
        ParamMap params;
        std::string status;
        std::string error;  // "" when none
        int matched;
    };
    for (const ScanKind& kind : kScans) {
        SCOPED_TRACE(kind.name);
        clear();
        const std::string file = writeMatch(kind, "");
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
            const json typed = run(kind, c.params);
            EXPECT_EQ(typed["status"], c.status);
            EXPECT_EQ(typed["error"], c.error.empty() ? json() : json(c.error));
            EXPECT_EQ(typed["totalMatched"], c.matched);
            EXPECT_EQ(typed["files"].size(), static_cast<std::size_t>(c.matched));
        }
    }
}

TEST_F(FolderScansTest, OnlyFalseKeepsTheScanToTheRoot) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"false", 1}, {"False", 2}, {"0", 2}, {"true", 2}, {"", 2},
    };
    for (const ScanKind& kind : kScans) {
        SCOPED_TRACE(kind.name);
        clear();
        writeMatch(kind, "");
        writeMatch(kind, "sub");
        for (const auto& [recursive, found] : cases) {
            ParamMap params = march();
            params["recursive"] = recursive;
            const json typed = run(kind, params);
            EXPECT_EQ(typed["status"], "ok") << recursive;
            EXPECT_EQ(typed["totalScanned"], found) << recursive;
            EXPECT_EQ(typed["totalMatched"], found) << recursive;
        }
        EXPECT_EQ(run(kind, march())["totalMatched"], 2);
    }
}

TEST_F(FolderScansTest, AWalkThatEndsOnAnErrorIsNotAFinishedScan) {
    constexpr std::size_t kFreeDescriptors = 8;
    // The walk holds one descriptor per open folder: with only a few left,
    // opening a deep folder fails with "too many open files".
    const auto fewDescriptors = [] {
        std::vector<int> spare;
        for (int fd = 0; (fd = ::open("/dev/null", O_RDONLY)) >= 0 && spare.size() < 4096;) {
            spare.push_back(fd);
        }
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = static_cast<rlim_t>((spare.empty() ? 2 : spare.back()) + 1);
        if (spare.size() < kFreeDescriptors || ::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            return false;
        }
        // Eight free descriptors, the lowest ones: enough for the first
        // folders, a file and the sanitizers' own pipe, not for the deep ones.
        for (std::size_t i = 0; i < kFreeDescriptors; ++i) {
            ::close(spare[i]);
        }
        return true;
    };
    for (const ScanKind& kind : kScans) {
        SCOPED_TRACE(kind.name);
        clear();
        const std::string atRoot = writeMatch(kind, "");
        writeMatch(kind, "l1");
        writeMatch(kind, "l1/l2/l3/l4/l5/l6/l7/l8/l9/l10/l11/l12");
        test::LogCapture log;
        const json typed = runInChild(kind, march(), fewDescriptors);
        EXPECT_EQ(log.count("WARN", std::string(kind.logPrefix) + ": iter error: "), 1);
        ASSERT_TRUE(typed.contains("status"));
        EXPECT_EQ(typed["status"], "error");
        EXPECT_THAT(typed["error"].get<std::string>(), HasSubstr("Too many open files"));
        // What was found before the walk stopped stays; the deepest file
        // was never reached.
        EXPECT_EQ(typed["files"].size(), typed["totalMatched"].get<std::size_t>());
        EXPECT_LE(typed["totalMatched"], 2);
        if (kind.scan.typeId() == "vat_files_scan") {
            // The VAT scan visits the root after the walk, however it ended.
            EXPECT_THAT(paths(typed), testing::Contains(atRoot));
        }
    }
}

TEST_F(FolderScansTest, APipeNamedLikeADeclarationDoesNotHoldTheScan) {
    for (const ScanKind& kind : kScans) {
        SCOPED_TRACE(kind.name);
        clear();
        const std::string real = writeMatch(kind, "a");
        test::makeFifo(fs::path(root()) / "b" / kind.fileName);
        const json typed = runInChild(kind, march());
        ASSERT_TRUE(typed.contains("status"));
        EXPECT_EQ(typed["status"], "ok");
        EXPECT_EQ(typed["totalMatched"], 1);
        EXPECT_EQ(paths(typed), std::vector<std::string>{real});
    }
}

TEST_F(FolderScansTest, AMatchTooLargeToReturnIsReportedAndTheScanGoesOn) {
    for (const ScanKind& kind : kScans) {
        SCOPED_TRACE(kind.name);
        clear();
        const std::string real = writeMatch(kind, "a");
        const std::string huge =
            test::writeSparseFile(fs::path(root()) / "b" / kind.fileName, kind.firstLine(3, 2024) + "\r\n",
                                  platform::kMaxWholeFileBytes + 1);
        const std::string error = "Файлът е по-голям от 256 MiB: " + huge;
        test::LogCapture log;
        const json typed = run(kind, march());
        EXPECT_EQ(log.count("WARN", std::string(kind.logPrefix) + ": " + error), 1);
        EXPECT_EQ(typed["status"], "error");
        EXPECT_EQ(typed["error"], error);
        EXPECT_EQ(typed["totalMatched"], 2);
        EXPECT_EQ(paths(typed), std::vector<std::string>{real});
    }
}

}  // namespace
}  // namespace velk::core::features
