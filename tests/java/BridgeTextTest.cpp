#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "infrastructure/java/BridgeText.h"
#include "infrastructure/java/ValidationErrors.h"

namespace velk::core::infra::java {
namespace {

std::vector<std::uint8_t> bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

TEST(BridgeTextTest, Base64OfTheProtocol) {
    EXPECT_EQ(bridgeBase64Encode({}), "");
    EXPECT_EQ(bridgeBase64Encode({0xFF}), "/w==");
    EXPECT_EQ(bridgeBase64Encode(bytes("Man")), "TWFu");
    EXPECT_EQ(bridgeBase64Decode("TWE="), bytes("Ma"));
    EXPECT_EQ(bridgeBase64Decode("TWFu\nTWFu"), bytes("Man"));  // stops at the line feed
    EXPECT_EQ(bridgeBase64Decode("TW Fu"), bytes("M"));
    EXPECT_EQ(bridgeBase64Decode(""), bytes(""));
    const std::vector<std::uint8_t> all = [] {
        std::vector<std::uint8_t> out;
        for (int i = 0; i < 256; ++i) {
            out.push_back(static_cast<std::uint8_t>(i));
        }
        return out;
    }();
    EXPECT_EQ(bridgeBase64Decode(bridgeBase64Encode(all)), all);
}

TEST(BridgeTextTest, NoiseLinesAndClassPath) {
    EXPECT_TRUE(isNoiseLine("stat: 3/10"));
    EXPECT_TRUE(isNoiseLine("maxProgress=10"));
    EXPECT_FALSE(isNoiseLine(" stat: 3/10"));
    EXPECT_FALSE(isNoiseLine("Stat: x"));
    EXPECT_EQ(buildClasspath({}), "");
    EXPECT_EQ(buildClasspath({"/w", "/a.jar", "/a.jar"}), "/w:/a.jar:/a.jar");
}

TEST(ValidationErrorsTest, OutputLinesFirstThenTheErrorStreamThenTheExitCode) {
    EXPECT_EQ(
        collectValidationErrors({"  Ред 3: грешна дата ", "stat: 1", "", "x stat: y", "Ред 3: грешна дата"},
                                "ignored\n", 1),
        (std::vector<std::string>{"Ред 3: грешна дата", "x stat: y"}));
    std::string twelve;
    for (int i = 1; i <= 12; ++i) {
        twelve += " line " + std::to_string(i) + "\n\n";
    }
    const std::vector<std::string> fromErrors =
        collectValidationErrors({"stat: only noise", "   "}, twelve, 1);
    ASSERT_EQ(fromErrors.size(), 10u);
    EXPECT_EQ(fromErrors.front(), "line 1");
    EXPECT_EQ(fromErrors.back(), "line 10");
    EXPECT_EQ(collectValidationErrors({"maxProgress"}, "", 3),
              std::vector<std::string>{
                  "Валидацията се провали (код 3). Виж VezoRodarC.log за пълен изход от Java."});
    // Broken text from the child comes out as valid UTF-8.
    EXPECT_EQ(collectValidationErrors({"bad \xff byte"}, "", 1),
              std::vector<std::string>{"bad \xEF\xBF\xBD byte"});
}

}  // namespace
}  // namespace velk::core::infra::java
