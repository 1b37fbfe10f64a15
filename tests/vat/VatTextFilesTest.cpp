// The fixed-width readers of the VAT text files and the local parse inquiry,
// over fixtures built here at byte offsets in windows-1251.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/JsonUtils.h"
#include "fakes/agency/VatTextFixtures.h"
#include "features/vat/VatFilesInquiry.h"
#include "features/vat/VatTextFiles.h"
#include "operations/ResultProjection.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace velk::core::features::vat {
namespace {

namespace fs = std::filesystem;

using test::deklarLine;
using test::FixedWidthLine;
using test::journalLine;

std::vector<std::string> linesOf(std::string_view bytes) {
    std::vector<std::string> lines;
    for (const std::string_view line : splitLines(bytes)) {
        lines.emplace_back(line);
    }
    return lines;
}

TEST(VatTextFilesTest, LinesEndAtLfAndLoseOnlyTheCrBeforeIt) {
    struct Case {
        std::string bytes;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"A\r\n\nB", {"A", "", "B"}},
        {"A\nB\n", {"A", "B"}},
        {"\n", {""}},
        {"A\r", {"A\r"}},
        {"A\r\r\nB", {"A\r", "B"}},
        {"", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(linesOf(c.bytes), c.lines) << testing::PrintToString(c.bytes);
    }
    // A line without line ends is cut, not taken whole.
    const std::string huge(kMaxVatLineBytes + 10, 'x');
    ASSERT_EQ(splitLines(huge).size(), 1u);
    EXPECT_EQ(splitLines(huge)[0].size(), kMaxVatLineBytes);
}

TEST(VatTextFilesTest, DeklarFirstLine) {
    const std::string base = deklarLine("BG123456789", "Тест ЕООД", "202403");
    struct Case {
        const char* name;
        std::string bytes;
        json expected;
    };
    const std::vector<Case> cases = {
        {"71 bytes, no '/'",
         FixedWidthLine().at(0, "BG123456789").at(15, "Тест ЕООД").at(65, "202403").padTo(71).bytes(),
         {{"vatNumber", "BG123456789"},
          {"name", "Тест ЕООД"},
          {"period", "202403"},
          {"values", json::array()}}},
        {"the personal number after the period",
         FixedWidthLine().at(0, "BG123456789").at(65, "202403").at(71, "8001010000/Иван").bytes(),
         {{"vatNumber", "BG123456789"},
          {"name", ""},
          {"period", "202403"},
          {"representative", {{"egn", "8001010000"}, {"name", "Иван"}}},
          {"values", json::array()}}},
        {"'/' at 80",
         FixedWidthLine().at(0, "BG123456789").at(65, "202403").at(70, "8001010000/Иван").bytes(),
         {{"vatNumber", "BG123456789"},
          {"name", ""},
          {"period", "202408"},  // byte 70 is both the period's last and the EGN's first
          {"representative", {{"egn", "8001010000"}, {"name", "Иван"}}},
          {"values", json::array()}}},
        {"first '/' at 75 hides one at 90",
         FixedWidthLine().at(0, "1").at(65, "202403").at(75, "/").at(90, "/x").bytes(),
         {{"vatNumber", "1"}, {"name", ""}, {"period", "202403"}, {"values", json::array({"/x"})}}},
        {"two values",
         FixedWidthLine().at(0, "1").at(90, "100.00").at(105, "20.00").padTo(120).bytes(),
         {{"vatNumber", "1"}, {"name", ""}, {"period", ""}, {"values", json::array({"100.00", "20.00"})}}},
        {"a blank value ends the values",
         FixedWidthLine().at(0, "1").at(105, "20.00").padTo(120).bytes(),
         {{"vatNumber", "1"}, {"name", ""}, {"period", ""}, {"values", json::array()}}},
        {"only the first line, even blank",
         "   \r\n" + base,
         {{"vatNumber", ""}, {"name", ""}, {"period", ""}, {"values", json::array()}}},
        {"no line", "", nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseDeklar(c.bytes), c.expected) << c.name;
    }
    // The representative's name runs 80 bytes from the '/'.
    const json long_ = parseDeklar(
        FixedWidthLine().at(70, "8001010000/").at(81, std::string(80, 'N')).at(161, "tail").bytes());
    EXPECT_EQ(long_["representative"]["name"], std::string(80, 'N'));
}

TEST(VatTextFilesTest, JournalRecords) {
    const std::string record = FixedWidthLine()
                                   .at(0, "BG123456789")
                                   .at(15, "202403")
                                   .at(22, "0")
                                   .at(33, "0000000123")
                                   .at(54, "15.03.2024")
                                   .at(64, "BG987654321")
                                   .at(79, "Доставчик АД")
                                   .at(129, "Стоки")
                                   .padTo(159)
                                   .bytes();
    const json parsed = parseJournalRecord(record);
    EXPECT_EQ(parsed, json({{"vatNumber", "BG123456789"},
                            {"periodCode", "202403"},
                            {"branch", "0"},
                            {"documentNumber", "0000000123"},
                            {"documentDate", "15.03.2024"},
                            {"partnerVat", "BG987654321"},
                            {"partnerName", "Доставчик АД"},
                            {"description", "Стоки"},
                            {"amounts", json::array()}}));
    EXPECT_EQ(parseJournalRecord(record + "123456")["amounts"], json::array({"123456"}));

    const std::string journal =
        journalLine("1", "A", "Първи", "1.00") + "\r\n\r\n   \t\r\n" + journalLine("1", "B", "Втори", "2.00");
    const json records = parseJournal(journal);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1]["partnerName"], "Втори");
    EXPECT_EQ(records[1]["amounts"], json::array({"2.00"}));
    EXPECT_EQ(parseJournal(""), json::array());
}

class VatFolderTest : public testing::Test {
protected:
    std::string folder() const { return dir_.sub("ret"); }

    void write(const std::string& name, const std::string& bytes) {
        fs::create_directories(folder());
        std::ofstream(fs::path(folder()) / name, std::ios::binary) << bytes;
    }

    void writeComplete() {
        write("deklar.txt", deklarLine("BG123456789", "Тест ЕООД", "202403") + "\r\n");
        write("Pokupki.Txt",
              journalLine("1", "A", "Първи", "1.00") + "\r\n" + journalLine("1", "B", "Б", "2"));
        write("PRODAGBI.TXT", "");
        write("VIES.TXT", journalLine("1", "V", "В", "3"));
    }

    json parseInquiry(const std::string& directory, operations::InquiryResult* raw = nullptr) {
        const VatFilesInquiry inquiry;
        const operations::InquiryResult result = inquiry.run(nullptr, {{"directory", directory}});
        if (raw != nullptr) {
            *raw = result;
        }
        return operations::projectInquiryResult(inquiry.resultSchema(), result);
    }

    test::TempDir dir_;
};

TEST_F(VatFolderTest, ACompleteFolderInAnyCase) {
    writeComplete();
    const json bundle = parseVatFolder(folder());
    EXPECT_EQ(bundle["directory"], folder());
    EXPECT_EQ(bundle["declaration"]["sourceFile"], "deklar.txt");
    EXPECT_EQ(bundle["declaration"]["name"], "Тест ЕООД");
    EXPECT_EQ(bundle["purchasesSourceFile"], "Pokupki.Txt");
    EXPECT_EQ(bundle["purchases"].size(), 2u);
    EXPECT_EQ(bundle["sales"], json::array());
    EXPECT_FALSE(bundle.contains("errors"));
    EXPECT_FALSE(bundle.contains("vies"));
    const VatFolderCheck check = checkVatFolderFiles(folder());
    EXPECT_TRUE(check.ok);
    EXPECT_TRUE(check.missing.empty());

    operations::InquiryResult raw;
    const json typed = parseInquiry(folder(), &raw);
    EXPECT_EQ(typed["status"], "ok");
    EXPECT_TRUE(typed["error"].is_null());
    EXPECT_EQ(typed["directory"], folder());
    EXPECT_EQ(typed["items"], json::parse(R"([{"file":"DEKLAR.TXT","status":"ok","count":"1"},
        {"file":"POKUPKI.TXT","status":"ok","count":"2"},{"file":"PRODAGBI.TXT","status":"ok","count":"0"}])"));
    EXPECT_EQ(raw.rawBodyContentType, "application/json; charset=utf-8");
    // Indented by two, keys in byte order, Cyrillic as UTF-8.
    EXPECT_THAT(raw.rawBody, testing::HasSubstr("\n  \"declaration\": {"));
    EXPECT_THAT(raw.rawBody, testing::HasSubstr("Тест ЕООД"));
    EXPECT_LT(raw.rawBody.find("\"declaration\""), raw.rawBody.find("\"directory\""));
}

TEST_F(VatFolderTest, MissingFilesAndFolders) {
    write("PRODAGBI.TXT", journalLine("1", "A", "x", "1"));
    fs::create_directories(fs::path(folder()) / "DEKLAR.TXT");  // a folder is not the file
    const json bundle = parseVatFolder(folder());
    EXPECT_EQ(bundle["errors"], json::array({"Липсва файл DEKLAR.TXT", "Липсва файл POKUPKI.TXT"}));
    const VatFolderCheck check = checkVatFolderFiles(folder());
    EXPECT_FALSE(check.ok);
    EXPECT_EQ(check.missing, (std::vector<std::string>{"DEKLAR.TXT", "POKUPKI.TXT"}));

    const json typed = parseInquiry(folder());
    EXPECT_EQ(typed["status"], "partial");
    EXPECT_EQ(typed["error"], "Липсва файл DEKLAR.TXT; Липсва файл POKUPKI.TXT");
    EXPECT_EQ(typed["items"][0], json({{"file", "DEKLAR.TXT"}, {"status", "липсва"}, {"count", "—"}}));
    EXPECT_EQ(typed["items"][2]["count"], "1");

    for (const std::string& missing : {dir_.sub("none"), dir_.sub("ret/PRODAGBI.TXT")}) {
        const json none = parseVatFolder(missing);
        EXPECT_EQ(none, json({{"directory", missing}, {"errors", {"Папката не съществува: " + missing}}}));
        EXPECT_EQ(checkVatFolderFiles(missing).missing.size(), 3u);
        const json typedNone = parseInquiry(missing);
        EXPECT_EQ(typedNone["status"], "partial");
        EXPECT_EQ(typedNone["items"].size(), 3u);
    }
    const json empty = parseInquiry("");
    EXPECT_EQ(empty["status"], "error");
    EXPECT_EQ(empty["error"], "directory е задължителен");
    EXPECT_TRUE(empty["items"].empty());
}

TEST_F(VatFolderTest, AnEmptyDeklarIsFoundButHoldsOnlyItsName) {
    writeComplete();
    write("deklar.txt", "");
    const json bundle = parseVatFolder(folder());
    EXPECT_EQ(bundle["declaration"], json({{"sourceFile", "deklar.txt"}}));
    EXPECT_FALSE(bundle.contains("errors"));
}

TEST_F(VatFolderTest, AFileThatCannotBeReadIsNoEmptyJournal) {
    writeComplete();
    fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(folder(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(fs::path(folder()) / "Pokupki.Txt", fs::perms::none);
    const test::ChildOutput out = test::runInChildForText([&] {
        if (!test::dropToNobody()) {
            throw std::runtime_error("cannot drop privileges");
        }
        return dumpCompact(parseInquiry(folder()));
    });
    ASSERT_EQ(out.end, 0) << out.text;
    const json typed = json::parse(out.text);
    EXPECT_EQ(typed["status"], "partial");
    EXPECT_EQ(typed["error"], "Файлът не може да бъде прочетен: Pokupki.Txt");
    EXPECT_EQ(typed["items"][1]["status"], "ok");
}

}  // namespace
}  // namespace velk::core::features::vat
