#include "common/TextUtils.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace velk::core {
namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) {
        out.push_back(static_cast<char>(v));
    }
    return out;
}

// glibc's table as an independent oracle for one windows-1251 byte.
std::string iconvCp1251(unsigned char byte) {
    iconv_t cd = iconv_open("UTF-8", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return {};
    }
    char in[1] = {static_cast<char>(byte)};
    char out[8] = {};
    char* inPtr = in;
    char* outPtr = out;
    size_t inLeft = 1;
    size_t outLeft = sizeof out;
    const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) {
        return {};
    }
    return std::string(out, sizeof out - outLeft);
}

TEST(Cp1251, CyrillicCapitalA) {
    EXPECT_EQ(cp1251ToUtf8(bytes({0xC0})), bytes({0xD0, 0x90}));
}

TEST(Cp1251, EmptyAndAsciiPassThrough) {
    EXPECT_EQ(cp1251ToUtf8(""), "");
    EXPECT_EQ(cp1251ToUtf8("EMPL2021.TXT 123\r\n"), "EMPL2021.TXT 123\r\n");
}

TEST(Cp1251, EveryHighByteMatchesTheSystemTable) {
    for (int b = 0x80; b <= 0xFF; ++b) {
        const std::string ours = cp1251ToUtf8(std::string(1, static_cast<char>(b)));
        if (b == 0x98) {
            // Unassigned in the code page; kept as the C1 control U+0098.
            EXPECT_EQ(ours, bytes({0xC2, 0x98}));
            continue;
        }
        const std::string expected = iconvCp1251(static_cast<unsigned char>(b));
        if (expected.empty()) {
            GTEST_SKIP() << "iconv has no CP1251 table";
        }
        EXPECT_EQ(ours, expected) << "byte 0x" << std::hex << b;
    }
}

TEST(Cp1251, MixedText) {
    // "Дата: 01" in windows-1251
    EXPECT_EQ(cp1251ToUtf8(bytes({0xC4, 0xE0, 0xF2, 0xE0, ':', ' ', '0', '1'})), "Дата: 01");
}

TEST(Base64, EncodesTheStandardVectors) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {bytes({0xFF, 0xFE}), "//4="},
    };
    for (const auto& [plain, encoded] : cases) {
        EXPECT_EQ(base64Encode(plain), encoded);
        const auto decoded = base64Decode(encoded);
        EXPECT_EQ(std::string(decoded.begin(), decoded.end()), plain);
    }
}

TEST(Base64, DecodeSkipsCharactersOutsideTheAlphabet) {
    const std::string expected = "abc";  // "YWJj"
    for (const std::string text : {"YW Jj", "Y\r\nWJj", "YW=Jj", "-YWJj_", "\tYWJj\n"}) {
        const auto decoded = base64Decode(text);
        EXPECT_EQ(std::string(decoded.begin(), decoded.end()), expected) << text;
    }
}

TEST(Base64, DecodeDropsLeftOverBits) {
    EXPECT_EQ(base64Decode("YW").size(), 1u);
    EXPECT_EQ(base64Decode("Y").size(), 0u);
    EXPECT_TRUE(base64Decode("").empty());
    EXPECT_TRUE(base64Decode("====").empty());
}

TEST(Base64, RoundTripsEveryByteValue) {
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i) {
        all[i] = static_cast<std::uint8_t>(i);
    }
    EXPECT_EQ(base64Decode(base64Encode(all)), all);
}

TEST(AsciiCase, FoldsAsciiOnlyAndLeavesCyrillicBytesAlone) {
    const std::string cyr = "Дек";
    EXPECT_EQ(asciiLower("ABC xyz " + cyr), "abc xyz " + cyr);
    EXPECT_EQ(asciiUpper("abc XYZ " + cyr), "ABC XYZ " + cyr);
    EXPECT_TRUE(iequalsAscii("Upload_File", "UPLOAD_file"));
    EXPECT_FALSE(iequalsAscii("abc", "abcd"));
    EXPECT_TRUE(icontainsAscii("dec2009.IPUBXMLDEC", "ipubxml"));
    EXPECT_TRUE(icontainsAscii("anything", ""));
    EXPECT_FALSE(icontainsAscii("ab", "abc"));
}

TEST(Trim, StripsCWhiteSpaceOnly) {
    EXPECT_EQ(trim(" \t\r\n x y \v\f"), "x y");
    EXPECT_EQ(trim("   "), "");
    EXPECT_EQ(trim(bytes({0xC2, 0xA0}) + "x"), bytes({0xC2, 0xA0}) + "x");  // NBSP is not ASCII space
}

TEST(Utf8SafePrefix, NeverCutsACharacter) {
    const std::string text = "аб";  // two 2-byte characters
    const std::vector<std::pair<std::size_t, std::string>> cases = {
        {0, ""}, {1, ""}, {2, "а"}, {3, "а"}, {4, "аб"}, {100, "аб"},
    };
    for (const auto& [max, expected] : cases) {
        EXPECT_EQ(utf8SafePrefix(text, max), expected) << max;
    }
    EXPECT_EQ(utf8SafePrefix("€x", 2), "");  // 3-byte character
    EXPECT_EQ(utf8SafePrefix("abc", 2), "ab");
}

// Only the start of the character that the limit cuts is left out: a whole
// character before the cut stays, also beside stray continuation bytes.
TEST(Utf8SafePrefix, LeavesOutOnlyTheCutCharactersStart) {
    struct Case {
        std::string text;
        std::size_t max;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"ab" + bytes({0x80}), 2, "ab"},
        {"abc" + bytes({0x80, 0x80}), 4, "abc" + bytes({0x80})},
        {"SIGN:QUJD" + bytes({0xBF}) + "RA==", 9, "SIGN:QUJD"},
        {bytes({0x80, 0x80, 0x80, 0x80}), 2, bytes({0x80, 0x80})},
        {"x𝄞y", 1, "x"},
        {"x𝄞y", 2, "x"},
        {"x𝄞y", 4, "x"},
        {"x𝄞y", 5, "x𝄞"},
        {"a€" + bytes({0x80}), 4, "a€"},
        {bytes({0xC3}) + "ab", 2, bytes({0xC3}) + "a"},  // a lead byte alone is no character
        {bytes({0xFF, 0xFE}) + "ab", 1, bytes({0xFF})},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        EXPECT_EQ(utf8SafePrefix(cases[i].text, cases[i].max), cases[i].expected);
    }
}

TEST(Utf8Validity, RejectsIllFormedSequencesAndReplacesThem) {
    const std::string fffd = bytes({0xEF, 0xBF, 0xBD});
    struct Case {
        std::string text;
        bool valid;
        std::string repaired;
    };
    const std::vector<Case> cases = {
        {"", true, ""},
        {"абв €𝄞 x", true, "абв €𝄞 x"},
        {bytes({0xC0, 0xAF}), false, fffd + fffd},                            // overlong '/'
        {bytes({0xE0, 0x80, 0xAF}), false, fffd + fffd + fffd},               // overlong
        {bytes({0xED, 0xA0, 0x80}), false, fffd + fffd + fffd},               // surrogate
        {bytes({0xF4, 0x90, 0x80, 0x80}), false, fffd + fffd + fffd + fffd},  // above U+10FFFF
        {"а" + bytes({0xD0}), false, "а" + fffd},                             // cut at the end
        {bytes({0xE2, 0x82}) + "x", false, fffd + "x"},                       // truncated, one mark
        {bytes({0xCF, 0xF0, 0xE8, 0xE5, 0xF2}), false, fffd + fffd + fffd + fffd + fffd},  // windows-1251
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isValidUtf8(c.text), c.valid) << c.repaired;
        EXPECT_EQ(toValidUtf8(c.text), c.repaired);
        EXPECT_TRUE(isValidUtf8(toValidUtf8(c.text)));
    }
}

TEST(EscapeControlBytes, EscapesEveryLineBreakAndControlCharacterOnly) {
    struct Case {
        std::string text;
        std::string escaped;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"C:\\dir\\файл 1", "C:\\dir\\файл 1"},
        // Letters and signs whose bytes include 0x80-0x9F stay whole.
        {"Декларацията НЕ Е ПРИЕТА: грешка в ред №5 „Ш“ … 10 €, ЀЁЂЏ ѐёђџ",
         "Декларацията НЕ Е ПРИЕТА: грешка в ред №5 „Ш“ … 10 €, ЀЁЂЏ ѐёђџ"},
        {"a\r\nb", "a\\x0D\\x0Ab"},
        {std::string("\0\x1F\x7F ~", 5), "\\x00\\x1F\\x7F ~"},
        // The C1 controls, NEL among them, and the Unicode separators.
        {"a\xC2\x85"
         "2026-01-15 10:00:00 [ERROR] x",
         "a\\u00852026-01-15 10:00:00 [ERROR] x"},
        {"\xC2\x80|\xC2\x9F|\xC2\xA0", "\\u0080|\\u009F|\xC2\xA0"},
        {"a\xE2\x80\xA8"
         "b\xE2\x80\xA9"
         "c\xE2\x80\xA7",
         "a\\u2028b\\u2029c\xE2\x80\xA7"},
        // Bytes outside a character: alone, a cut letter, an overlong line feed.
        {"\x85", "\\x85"},
        {"ж\xD0", "ж\\xD0"},
        {"\xE2\x80\n", "\\xE2\\x80\\x0A"},
        {"\xC0\x8A", "\\xC0\\x8A"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(escapeControlBytes(c.text), c.escaped) << c.escaped;
    }
}

TEST(LoggableText, CutsWholeCharactersThenEscapesEveryStrayByte) {
    struct Case {
        std::string text;
        std::size_t maxBytes;
        std::string logged;
    };
    const std::vector<Case> cases = {
        {"", 0, ""},
        {"файл\n", std::string::npos, "файл\\x0A"},
        // A stray byte reads as itself, never as U+FFFD.
        {"a\xFF\xD0", std::string::npos, "a\\xFF\\xD0"},
        {"a\xFF"
         "b",
         2, "a\\xFF"},
        // The cut leaves out a character it would split.
        {"ab\xD0\xB6", 3, "ab"},
        {"ab\xD0\xB6", 4, "ab\xD0\xB6"},
        {"a\r\nb", 2, "a\\x0D"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(loggableText(c.text, c.maxBytes), c.logged) << c.logged;
    }
}

TEST(PercentEncode, KeepsOnlyUnreservedCharacters) {
    EXPECT_EQ(percentEncode("2024-01_a.b~Z9"), "2024-01_a.b~Z9");
    EXPECT_EQ(percentEncode("0&YEAR=1999"), "0%26YEAR%3D1999");
    EXPECT_EQ(percentEncode("a b/?#%"), "a%20b%2F%3F%23%25");
    EXPECT_EQ(percentEncode("я"), "%D1%8F");
    EXPECT_EQ(percentEncode(""), "");
}

TEST(ParseInt64, FollowsStrtollPrefixRules) {
    struct Case {
        const char* text;
        std::optional<std::int64_t> value;
    };
    const Case cases[] = {
        {"42", 42},
        {"  7", 7},
        {"\t-3", -3},
        {"+5", 5},
        {"12abc", 12},
        {"12.9", 12},
        {"0001", 1},
        {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
        {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
        {"9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"-", std::nullopt},
        {"- 1", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseInt64(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST(ParseInt32, IsEmptyOutsideThirtyTwoBits) {
    EXPECT_EQ(parseInt32(" 2025.000000"), 2025);
    EXPECT_EQ(parseInt32("2147483647"), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(parseInt32("-2147483648"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(parseInt32("2147483648"), std::nullopt);
    EXPECT_EQ(parseInt32("-2147483649"), std::nullopt);
    EXPECT_EQ(parseInt32("x1"), std::nullopt);
}

class CommaLocale : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = std::setlocale(LC_ALL, nullptr);
        active_ = std::setlocale(LC_ALL, "bg_BG.UTF-8") != nullptr;
    }
    void TearDown() override { std::setlocale(LC_ALL, saved_.c_str()); }
    bool active_ = false;

private:
    std::string saved_;
};

TEST_F(CommaLocale, NumbersIgnoreTheProcessLocale) {
    if (!active_) {
        GTEST_SKIP() << "bg_BG.UTF-8 is not installed";
    }
    EXPECT_EQ(formatFixed(2025.0, 6), "2025.000000");
    EXPECT_EQ(formatFixed(12.34, 2), "12.34");
    EXPECT_EQ(parseDoubleC("3.14"), 3.14);
    EXPECT_EQ(parseDoubleC("1,5"), 1.0);
}

TEST(FormatFixed, MatchesPrintf) {
    for (double v : {0.0, -0.0, 1.005, 2025.0, 24.68, -1e-7, 123456789.125, 1e300}) {
        for (int precision : {0, 2, 6}) {
            char expected[512];
            std::snprintf(expected, sizeof expected, "%.*f", precision, v);
            EXPECT_EQ(formatFixed(v, precision), expected) << v << " " << precision;
        }
    }
}

TEST(ParseDoubleC, TakesTheLongestPrefix) {
    struct Case {
        const char* text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"3.14xyz", 3.14},  {"1,5", 1.0},          {" -2.5", -2.5},     {"1e3", 1000.0},
        {"", std::nullopt}, {"abc", std::nullopt}, {".", std::nullopt}, {"1e999", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseDoubleC(c.text), c.value) << '"' << c.text << '"';
    }
    // Non-finite texts convert, as strtod does; callers decide what they accept.
    ASSERT_TRUE(parseDoubleC("nan").has_value());
    EXPECT_TRUE(std::isnan(*parseDoubleC("nan")));
    EXPECT_TRUE(std::isinf(*parseDoubleC("-inf")));
}

}  // namespace
}  // namespace velk::core
