#include "common/AgentVersion.h"

#include <gtest/gtest.h>

namespace velk::core {
namespace {

TEST(AgentVersion, CurrentIs010) {
    EXPECT_EQ(versionString(), "0.1.0");
    EXPECT_EQ(currentVersion(), (AgentVersion{0, 1, 0}));
}

// What the agent reports is what the build packages and names it.
TEST(AgentVersion, IsTheProjectVersion) {
    EXPECT_EQ(versionString(), VELK_PROJECT_VERSION);
    EXPECT_EQ(parseVersion(VELK_PROJECT_VERSION), currentVersion());
}

TEST(AgentVersion, ParsesThreeOrFourNumbersAndKeepsThree) {
    struct Case {
        const char* text;
        std::optional<AgentVersion> version;
    };
    const Case cases[] = {
        {"1.2.3", AgentVersion{1, 2, 3}},
        {"01.002.3", AgentVersion{1, 2, 3}},
        {"1.2.3.4", AgentVersion{1, 2, 3}},
        {"65535.65535.65535", AgentVersion{65535, 65535, 65535}},
        {"0.0.0", AgentVersion{0, 0, 0}},
        {"", std::nullopt},
        {"1.2", std::nullopt},
        {"1.2.3.", std::nullopt},
        {"1.2.3.4.5", std::nullopt},
        {"1.2.3.4.", std::nullopt},
        {" 1.2.3", std::nullopt},
        {"1.2.3 ", std::nullopt},
        {"v1.2.3", std::nullopt},
        {"+1.2.3", std::nullopt},
        {"1.2.3-beta", std::nullopt},
        {"1.2.65536", std::nullopt},
        {"1.2.3.65536", std::nullopt},
        {"1..3", std::nullopt},
        {"1.2.x", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseVersion(c.text), c.version) << '"' << c.text << '"';
    }
}

TEST(AgentVersion, OrdersByComponents) {
    EXPECT_LT((AgentVersion{0, 1, 0}), (AgentVersion{0, 1, 1}));
    EXPECT_LT((AgentVersion{0, 9, 9}), (AgentVersion{1, 0, 0}));
    EXPECT_EQ(toString(AgentVersion{10, 0, 65535}), "10.0.65535");
}

}  // namespace
}  // namespace velk::core
