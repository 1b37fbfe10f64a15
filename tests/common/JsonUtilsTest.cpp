#include "common/JsonUtils.h"

#include <gtest/gtest.h>

#include <string>

namespace velk::core {
namespace {

std::string nestedArrays(std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

TEST(ExternalJson, DepthBoundIsCountedOutsideStringsOnly) {
    struct Case {
        std::string text;
        bool tooDeep;
    };
    const Case cases[] = {
        {nestedArrays(kMaxJsonDepth), false},
        {nestedArrays(kMaxJsonDepth + 1), true},
        {"{\"a\":" + nestedArrays(kMaxJsonDepth - 1) + "}", false},
        {"{\"a\":" + nestedArrays(kMaxJsonDepth) + "}", true},
        // Brackets inside strings, escaped quotes among them, do not nest.
        {"[\"" + std::string(100000, '[') + "\"]", false},
        {"[\"\\\"" + std::string(100000, '{') + "\"]", false},
        {"[\"\\\\\"," + nestedArrays(kMaxJsonDepth) + "]", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(exceedsJsonDepth(c.text), c.tooDeep) << c.text.substr(0, 40);
        EXPECT_EQ(!tryParseExternalJson(c.text).has_value(), c.tooDeep) << c.text.substr(0, 40);
    }
}

TEST(ExternalJson, HostileTextIsRefusedWithoutEscaping) {
    std::string error;
    EXPECT_FALSE(tryParseExternalJson(nestedArrays(100000), &error));
    EXPECT_NE(error.find("nested deeper"), std::string::npos) << error;
    EXPECT_THROW(parseExternalJson(nestedArrays(100000)), json::parse_error);

    // A number past double's range is not a parse error but out_of_range:
    // both are json::exception, which is what readers catch.
    EXPECT_FALSE(tryParseExternalJson("{\"id\":1e400}", &error));
    EXPECT_THROW(parseExternalJson("{\"id\":1e400}"), json::out_of_range);
    EXPECT_FALSE(tryParseExternalJson("{\"a\":"));
    EXPECT_FALSE(tryParseExternalJson(""));
}

TEST(ExternalJson, ValidTextParsesWhole) {
    const auto value = tryParseExternalJson(R"({"a":[1,{"b":"[{"}],"c":null})");
    ASSERT_TRUE(value);
    EXPECT_EQ((*value)["a"][1]["b"], "[{");
    EXPECT_TRUE((*value)["c"].is_null());
}

}  // namespace
}  // namespace velk::core
