// The first-line readers of the form 1 and form 6 files and the record count,
// over small files written here: windows-1251 bytes, CR LF and LF, 0x1A.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "features/common/FormFileHeaders.h"
#include "support/TempDir.h"

namespace velk::core::features {
namespace {

// Joins fields with commas.
std::string line(const std::vector<std::string>& fields) {
    std::string text;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        text += (i == 0 ? "" : ",") + fields[i];
    }
    return text;
}

// A D6 first line: identifier, fields 1..5, month 6, year 7, date 8, field 9,
// marker 10 and one field after it (12 fields).
std::vector<std::string> d6Fields() {
    return {"123456789", "\xD4\xE8\xF0\xEC\xE0", "a", "b", "c", "d", "3",
            "2024",      "31/03/2024",           "e", "5", "x"};
}

std::vector<std::string> with(std::vector<std::string> fields, std::size_t i, std::string value) {
    fields.at(i) = std::move(value);
    return fields;
}

std::vector<std::string> firstN(std::vector<std::string> fields, std::size_t n) {
    fields.resize(n);
    return fields;
}

// A D1 first line: month, year, identifier, a 10-digit number, four more.
std::vector<std::string> d1Fields() {
    return {"3", "2024", "123456789", "8001010000", "\xC8\xE2\xE0\xED", "f", "g", "h"};
}

class FormFileHeadersTest : public testing::Test {
protected:
    std::string write(const std::string& bytes) {
        const std::string path = dir_.sub("file" + std::to_string(files_++) + ".txt");
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    test::TempDir dir_;
    int files_ = 0;
};

struct HeaderCase {
    const char* name;
    std::string content;
    std::optional<Dec16FileHeader> expected;  // year, month, eik
};

void expectHeader(const HeaderCase& c, const std::optional<Dec16FileHeader>& actual) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(actual.has_value(), c.expected.has_value());
    if (actual) {
        EXPECT_EQ(actual->year, c.expected->year);
        EXPECT_EQ(actual->month, c.expected->month);
        EXPECT_EQ(actual->eik, c.expected->eik);
    }
}

TEST_F(FormFileHeadersTest, Dec6Header) {
    const Dec16FileHeader march{2024, 3, "123456789"};
    const std::vector<std::string> base = d6Fields();
    // A first marker without a date two fields before it; a valid period
    // found back from a later marker 8.
    std::vector<std::string> laterMarker = with(with(base, 10, "5"), 8, "31.03.2024");
    laterMarker.insert(laterMarker.end(), {"w", "4", "2023", "30/04/2023", "y", "8", "z"});
    const std::vector<HeaderCase> cases = {
        {"twelve fields, CR LF", line(base) + "\r\nnext,line\r\n", march},
        {"LF only", line(base) + "\nnext", march},
        {"no line end at all", line(base), march},
        {"marker 8", line(with(base, 10, "8")) + "\r\n", march},
        {"quoted marker", line(with(base, 10, "\"5\"")) + "\r\n", march},
        {"quoted identifier", line(with(base, 0, "\"123456789\"")) + "\r\n", march},
        {"13 digits", line(with(base, 0, "1234567890123")) + "\r\n",
         Dec16FileHeader{2024, 3, "1234567890123"}},
        {"month with a leading blank", line(with(base, 6, " 3")) + "\r\n", march},
        {"month with a sign", line(with(base, 6, "+3")) + "\r\n", march},
        {"year 2000", line(with(base, 7, "2000")) + "\r\n", Dec16FileHeader{2000, 3, "123456789"}},
        {"year 2100", line(with(base, 7, "2100")) + "\r\n", Dec16FileHeader{2100, 3, "123456789"}},
        {"a later marker", line(laterMarker) + "\r\n", Dec16FileHeader{2023, 4, "123456789"}},
        {"eleven fields", line(firstN(base, 11)) + "\r\n", std::nullopt},
        {"marker only in the last field", line(with(with(base, 10, "x"), 11, "5")) + "\r\n", std::nullopt},
        {"marker 05", line(with(base, 10, "05")) + "\r\n", std::nullopt},
        {"marker with a blank", line(with(base, 10, " 5")) + "\r\n", std::nullopt},
        {"no date with a slash", line(with(base, 8, "31.03.2024")) + "\r\n", std::nullopt},
        {"quoted month", line(with(base, 6, "\"3\"")) + "\r\n", std::nullopt},
        {"quoted year", line(with(base, 7, "\"2024\"")) + "\r\n", std::nullopt},
        {"month with a trailing blank", line(with(base, 6, "3 ")) + "\r\n", std::nullopt},
        {"month 0", line(with(base, 6, "0")) + "\r\n", std::nullopt},
        {"month 13", line(with(base, 6, "13")) + "\r\n", std::nullopt},
        {"year 1999", line(with(base, 7, "1999")) + "\r\n", std::nullopt},
        {"year 2101", line(with(base, 7, "2101")) + "\r\n", std::nullopt},
        {"8 digits", line(with(base, 0, "12345678")) + "\r\n", std::nullopt},
        {"10 digits", line(with(base, 0, "1234567890")) + "\r\n", std::nullopt},
        {"12 digits", line(with(base, 0, "123456789012")) + "\r\n", std::nullopt},
        {"a letter", line(with(base, 0, "12345678A")) + "\r\n", std::nullopt},
        {"the period on the second line", "x\r\n" + line(base) + "\r\n", std::nullopt},
        {"empty file", "", std::nullopt},
        {"a line end first", "\n" + line(base), std::nullopt},
    };
    for (const HeaderCase& c : cases) {
        expectHeader(c, readDec6Header(write(c.content)));
    }
}

TEST_F(FormFileHeadersTest, Dec1Header) {
    const Dec16FileHeader march{2024, 3, "123456789"};
    const std::vector<std::string> base = d1Fields();
    const std::vector<HeaderCase> cases = {
        {"eight fields, CR LF", line(base) + "\r\nnext\r\n", march},
        {"LF", line(base) + "\n", march},
        {"no line end", line(base), march},
        {"9-digit number", line(with(base, 3, "123456789")) + "\r\n", march},
        {"quoted identifier and number", line(with(with(base, 2, "\"123456789\""), 3, "\"8001010000\"")),
         march},
        {"13-digit identifier", line(with(base, 2, "1234567890123")),
         Dec16FileHeader{2024, 3, "1234567890123"}},
        {"month with a leading blank", line(with(base, 0, " 3")), march},
        {"month +3", line(with(base, 0, "+3")), march},
        {"month with a trailing blank", line(with(base, 0, "3 ")), std::nullopt},
        {"quoted month", line(with(base, 0, "\"3\"")), std::nullopt},
        {"quoted year", line(with(base, 1, "\"2024\"")), std::nullopt},
        {"8-digit number", line(with(base, 3, "12345678")), std::nullopt},
        {"11-digit number", line(with(base, 3, "12345678901")), std::nullopt},
        {"identifier of 10 digits", line(with(base, 2, "1234567890")), std::nullopt},
        {"seven fields", line(firstN(base, 7)), std::nullopt},
        {"month 13", line(with(base, 0, "13")), std::nullopt},
        {"year 2101", line(with(base, 1, "2101")), std::nullopt},
        {"year 2000", line(with(base, 1, "2000")), Dec16FileHeader{2000, 3, "123456789"}},
        {"CR CR LF", line(base) + "\r\r\n", march},
        {"empty file", "", std::nullopt},
    };
    for (const HeaderCase& c : cases) {
        expectHeader(c, readDec1Header(write(c.content)));
    }
}

TEST_F(FormFileHeadersTest, OneCrBeforeTheLineEndGoesFromTheLastField) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"3,2024,x\r\nnext", "x"}, {"3,2024,x\r\r\nnext", "x\r"}, {"3,2024,x\nnext", "x"},
        {"3,2024,x\r", "x"},       {"3,2024,x\r\r", "x\r"},       {"3,2024,x", "x"},
        {"3,2024,\r\n", ""},
    };
    for (const auto& [bytes, lastField] : cases) {
        const std::optional<std::string> first = readFirstLine(write(bytes));
        ASSERT_TRUE(first) << testing::PrintToString(bytes);
        EXPECT_EQ(splitCommaFields(*first).back(), lastField) << testing::PrintToString(bytes);
    }
}

TEST_F(FormFileHeadersTest, ReadersGiveNothingForWhatIsNoFile) {
    EXPECT_FALSE(readDec6Header(dir_.sub("missing.txt")));
    EXPECT_FALSE(readDec1Header(dir_.sub("missing.txt")));
    EXPECT_FALSE(readDec6Header(dir_.path()));
    EXPECT_FALSE(readDec1Header(dir_.path()));
    // A first line past the limit is no header, whatever follows.
    const std::string longLine = line(d1Fields()) + "," + std::string(kMaxHeaderLineBytes, 'x');
    EXPECT_FALSE(readDec1Header(write(longLine + "\r\n")));
}

TEST(FormFileRecords, CountsLinesThatHoldMoreThanBlanks) {
    const std::vector<std::pair<std::string, std::int32_t>> cases = {
        {std::string("A\r\n\r\n  \r\nB"), 2},
        {std::string("A\nB\x1A"
                     "C\n"),
         2},
        {std::string("\x1A"), 0},
        {std::string("A\x1A"), 1},
        {std::string(" \t\r\n\n \r\n\t"), 0},
        {std::string(""), 0},
        {std::string("\xC8\xE2\xE0\xED\r\n\x01\r\n"), 2},
        {std::string("A\r\nB\r\nC\r\n"), 3},
    };
    for (const auto& [bytes, records] : cases) {
        EXPECT_EQ(countDec16Records(bytes), records) << testing::PrintToString(bytes);
    }
}

TEST(FormFileText, WholeIntsFieldsAndQuotes) {
    const std::vector<std::pair<std::string, std::optional<std::int32_t>>> ints = {
        {"3", 3},
        {" \t3", 3},
        {"+3", 3},
        {"-12", -12},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", std::nullopt},
        {"3 ", std::nullopt},
        {"3x", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"\"3\"", std::nullopt},
        {"2025.000000", std::nullopt},
    };
    for (const auto& [text, expected] : ints) {
        std::int32_t value = 77;
        EXPECT_EQ(tryParseWholeInt(text, value), expected.has_value()) << text;
        EXPECT_EQ(value, expected.value_or(77)) << text;
    }
    EXPECT_EQ(splitCommaFields(""), std::vector<std::string>{""});
    EXPECT_EQ(splitCommaFields("a,,\"b,c\","), (std::vector<std::string>{"a", "", "\"b", "c\"", ""}));
    const std::vector<std::pair<std::string, std::string>> quotes = {
        {"\"a\"", "a"}, {"\"", ""},           {"\"\"", ""},           {"\"a", "a"},
        {"a\"", "a"},   {"\"a\"b\"", "a\"b"}, {"\"\"a\"\"", "\"a\""},
    };
    for (const auto& [field, stripped] : quotes) {
        EXPECT_EQ(stripOuterQuotes(field), stripped) << field;
    }
}

}  // namespace
}  // namespace velk::core::features
