// The VAT folder scan over temporary trees, answered as the web application
// receives it. What the three folder scans share is tested over all three in
// FolderScansTest.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/JsonUtils.h"
#include "fakes/agency/VatTextFixtures.h"
#include "features/vat/VatFilesScanInquiry.h"
#include "operations/ResultProjection.h"
#include "support/FileText.h"
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

    void write(const std::string& relative, const std::string& bytes) const {
        test::writeFileBelow(root(), relative, bytes);
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
}

}  // namespace
}  // namespace velk::core::features::vat
