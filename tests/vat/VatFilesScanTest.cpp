// The VAT folder scan over temporary trees, answered as the web application
// receives it.
#include <fcntl.h>
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
#include "fakes/agency/VatTextFixtures.h"
#include "features/vat/VatFilesScanInquiry.h"
#include "operations/ResultProjection.h"
#include "support/ChildProcess.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace velk::core::features::vat {
namespace {

namespace fs = std::filesystem;

using operations::ParamMap;
using test::deklarLine;

const std::string kJournal = test::journalLine("BG123456789", "1", "Доставчик", "1.00") + "\r\n";

std::string deklar(const std::string& period) {
    return deklarLine("BG123456789", "Тест ЕООД", period) + "\r\n";
}

std::vector<std::string> names(const json& typed) {
    std::vector<std::string> out;
    for (const json& file : typed["files"]) {
        out.push_back(file["name"]);
    }
    return out;
}

class VatFilesScanTest : public testing::Test {
protected:
    void SetUp() override {
        fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    }

    std::string root() const { return dir_.sub("root"); }

    void write(const std::string& relative, const std::string& bytes) {
        const fs::path path = fs::path(root()) / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }

    json run(const ParamMap& params) {
        return operations::projectInquiryResult(scan_.resultSchema(), scan_.run(nullptr, params));
    }

    json runFor(const std::string& recursive = "true") {
        return run({{"rootFolder", root()}, {"year", "2024"}, {"month", "3"}, {"recursive", recursive}});
    }

    const VatFilesScanInquiry scan_;
    test::TempDir dir_;
};

TEST_F(VatFilesScanTest, FindsTheReturnOfThePeriodAndItsThreeFiles) {
    write("2024-03/DEKLAR.TXT", deklar("202403"));
    write("2024-03/pokupki.txt", kJournal);
    write("2024-03/PRODAGBI.TXT", kJournal);
    write("2024-03/VIES.TXT", kJournal);
    write("2024-03/Prodagbi.Txt", kJournal);
    write("2024-04/deklar.txt", deklar("202404"));
    write("other/notes.txt", "x");

    const json typed = runFor();
    EXPECT_EQ(typed["status"], "ok");
    EXPECT_EQ(typed["totalScanned"], 2);
    EXPECT_EQ(typed["totalMatched"], 1);
    std::vector<std::string> found = names(typed);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"DEKLAR.TXT", "PRODAGBI.TXT", "pokupki.txt"}));
    for (const json& file : typed["files"]) {
        EXPECT_EQ(file["folder"], root() + "/2024-03");
        EXPECT_EQ(file["tin"], "123456789");
        EXPECT_EQ(file["path"], root() + "/2024-03/" + file["name"].get<std::string>());
    }
    const auto deklarRow = std::find_if(typed["files"].begin(), typed["files"].end(),
                                        [](const json& f) { return f["name"] == "DEKLAR.TXT"; });
    EXPECT_THAT((*deklarRow)["content"].get<std::string>(), testing::HasSubstr("Тест ЕООД"));
}

TEST_F(VatFilesScanTest, TheRootComesLastAndOnlyFalseKeepsToIt) {
    write("DEKLAR.TXT", deklar("202403"));
    write("POKUPKI.TXT", kJournal);
    write("sub/Deklar.txt", deklar("202403"));  // found in any case with an exact extension
    write("sub/PRODAGBI.TXT", kJournal);
    write("odd/DEKLAR.Txt", deklar("202403"));  // an extension of another case is not

    const json typed = runFor();
    EXPECT_EQ(typed["totalScanned"], 2);
    EXPECT_EQ(typed["totalMatched"], 2);
    ASSERT_EQ(typed["files"].size(), 4u);
    EXPECT_EQ(typed["files"][2]["folder"], root());
    EXPECT_EQ(typed["files"][3]["folder"], root());

    const json flat = runFor("false");
    EXPECT_EQ(flat["totalScanned"], 1);
    EXPECT_EQ(flat["files"].size(), 2u);
    EXPECT_EQ(runFor("False")["totalScanned"], 2);
}

TEST_F(VatFilesScanTest, ParametersAndRoots) {
    write("DEKLAR.TXT", deklar("202403"));
    const std::string required = "rootFolder, year, month са задължителни";
    struct Case {
        ParamMap params;
        std::string status;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{{"year", "2024"}, {"month", "3"}}, "error", required},
        {{{"rootFolder", root()}, {"year", "x"}, {"month", "3"}}, "error", required},
        {{{"rootFolder", root()}, {"year", "2024"}}, "error", required},
        {{{"rootFolder", root() + "/DEKLAR.TXT"}, {"year", "2024"}, {"month", "3"}},
         "error",
         "Папката не съществува: " + root() + "/DEKLAR.TXT"},
        {{{"rootFolder", root()}, {"year", "2024"}, {"month", "13"}}, "ok", ""},
        {{{"rootFolder", root()}, {"year", "2024x"}, {"month", "3"}}, "ok", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.params));
        const json typed = run(c.params);
        EXPECT_EQ(typed["status"], c.status);
        EXPECT_EQ(typed["error"], c.error.empty() ? json() : json(c.error));
    }
}

TEST_F(VatFilesScanTest, AWalkThatEndsOnAnErrorIsNotAFinishedScan) {
    write("l1/DEKLAR.TXT", deklar("202403"));
    write("l1/l2/l3/l4/l5/l6/l7/l8/l9/l10/l11/l12/DEKLAR.TXT", deklar("202403"));
    fs::permissions(root(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    test::LogCapture log;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const int end = test::runInChild([&] {
        ::close(fds[0]);
        // Eight free descriptors, the lowest ones: enough for the first
        // folders, a file and the sanitizers' own pipe, not for the deep ones.
        constexpr std::size_t kFreeDescriptors = 8;
        std::vector<int> spare;
        for (int fd = 0; (fd = ::open("/dev/null", O_RDONLY)) >= 0 && spare.size() < 4096;) {
            spare.push_back(fd);
        }
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = static_cast<rlim_t>((spare.empty() ? 2 : spare.back()) + 1);
        if (spare.size() < kFreeDescriptors || ::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            return 2;
        }
        for (std::size_t i = 0; i < kFreeDescriptors; ++i) {
            ::close(spare[i]);
        }
        const std::string text = dumpCompact(runFor());
        return ::write(fds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 3;
    });
    ::close(fds[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n = 0; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    ASSERT_EQ(end, 0);
    const json typed = json::parse(text);
    EXPECT_EQ(log.count("WARN", "Vat: iter error: "), 1);
    EXPECT_EQ(typed["status"], "error");
    EXPECT_THAT(typed["error"].get<std::string>(), testing::HasSubstr("Too many open files"));
    EXPECT_LE(typed["totalMatched"], 1);
}

}  // namespace
}  // namespace velk::core::features::vat
