// The first line of DEKLAR.TXT as the VAT folder scan reads it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fakes/agency/VatTextFixtures.h"
#include "features/vat/DeklarHeader.h"
#include "support/TempDir.h"

namespace velk::core::features::vat {
namespace {

using test::deklarLine;
using test::FixedWidthLine;

TEST(DeklarHeaderTest, SplitOnDoubleSpace) {
    struct Case {
        std::string line;
        std::vector<std::string> tokens;
    };
    const std::vector<Case> cases = {
        {"BG1  Name with blanks   202403", {"BG1", "Name with blanks", "202403"}},
        {" lead  x", {" lead", "x"}},
        {"a\t\tb  c ", {"a\t\tb", "c"}},
        {"", {}},
        {"    ", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(splitOnDoubleSpace(c.line), c.tokens) << c.line;
    }
}

TEST(DeklarHeaderTest, FirstLines) {
    test::TempDir dir;
    struct Case {
        const char* name;
        std::string bytes;
        std::string fileName;  // "" for DEKLAR.TXT
        bool ok;
        std::string bulstat;
        int year;
        int month;
    };
    const std::string name50(50, 'N');
    const std::vector<Case> cases = {
        {"fixed width", deklarLine("BG123456789", "Тест ЕООД", "202403") + "\r\n", "", true, "123456789",
         2024, 3},
        {"lower-case prefix, 13 digits", deklarLine("bg1234567890123", "Т", "210012"), "", true,
         "1234567890123", 2100, 12},
        {"a 15-byte VAT number runs into the name",
         FixedWidthLine().at(0, "BG1234567890123").at(15, "Тест").at(65, "202403").bytes(), "", true,
         "1234567890123", 2024, 3},
        {"a 50-byte name runs into the period", deklarLine("123456789", name50, "202403"), "", true,
         "123456789", 2024, 3},
        {"a double blank inside the name", deklarLine("123456789", "Тест  ЕООД", "202403"), "", true,
         "123456789", 2024, 3},
        {"tokens: seven-digit period", "BG123456789  Тест ЕООД  2024031", "deklar.txt", true, "123456789",
         2024, 3},
        {"tokens: five-digit period", "BG123456789  Тест  20243", "", false, "", 0, 0},
        {"tokens: one blank after the id", "BG123456789 Тест  202403", "", false, "", 0, 0},
        // A natural person registered for VAT: BG and the personal number.
        {"BG and ten digits", deklarLine("BG8001010000", "Иван Петров", "202403"), "", true, "8001010000",
         2024, 3},
        {"ten digits", deklarLine("1234567890", "Т", "202403"), "", true, "1234567890", 2024, 3},
        {"tokens: BG and ten digits", "BG8001010000  Иван  202403 x", "", true, "8001010000", 2024, 3},
        {"eleven digits", deklarLine("BG12345678901", "Т", "202403"), "", false, "", 0, 0},
        {"tokens: twelve characters", "BG123456789012  Т  202403", "", false, "", 0, 0},
        {"tokens: eight characters", "BG12345678  Т  202403", "", false, "", 0, 0},
        {"year 1999", deklarLine("123456789", "Т", "199912"), "", false, "", 0, 0},
        {"month 13", deklarLine("123456789", "Т", "202413"), "", false, "", 0, 0},
        {"year 2000", deklarLine("123456789", "Т", "200001"), "", true, "123456789", 2000, 1},
        {"empty file", "", "", false, "", 0, 0},
        {"another name", deklarLine("123456789", "Т", "202403"), "POKUPKI.TXT", false, "", 0, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path folder = dir.path() / std::to_string(n++);
        std::filesystem::create_directories(folder);
        const std::filesystem::path path = folder / (c.fileName.empty() ? "DEKLAR.TXT" : c.fileName);
        std::ofstream(path, std::ios::binary) << c.bytes;
        const DeklarHeader header = readDeklarHeader(path);
        EXPECT_EQ(header.ok, c.ok);
        if (c.ok) {
            EXPECT_EQ(header.bulstat, c.bulstat);
            EXPECT_EQ(header.year, c.year);
            EXPECT_EQ(header.month, c.month);
        }
    }
    EXPECT_FALSE(readDeklarHeader(dir.path() / "missing" / "DEKLAR.TXT").ok);
}

}  // namespace
}  // namespace velk::core::features::vat
