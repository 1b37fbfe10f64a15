#include "agent/LaunchMode.h"

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace velk::agent {
namespace {

struct LaunchCase {
    const char* name;
    std::vector<std::string> args;
    bool hasSenders;
    LaunchMode expected;
};

// Named in test output by its name alone.
void PrintTo(const LaunchCase& c, std::ostream* out) {
    *out << c.name;
}

class LaunchModeTest : public ::testing::TestWithParam<LaunchCase> {};

TEST_P(LaunchModeTest, ChoosesHowTheProgramShowsItself) {
    const LaunchCase& c = GetParam();
    EXPECT_EQ(chooseLaunchMode(c.args, c.hasSenders), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, LaunchModeTest,
    ::testing::Values(
        LaunchCase{"NoArgumentsWithSenders", {}, true, LaunchMode::SilentTrayOnly},
        LaunchCase{"NoArgumentsNoSenders", {}, false, LaunchMode::FirstRun},
        LaunchCase{"SilentFlagIsNotExamined", {"--silent"}, false, LaunchMode::FirstRun},
        LaunchCase{"ShowAlone", {"--show"}, true, LaunchMode::ShowWindow},
        LaunchCase{"ShowWithoutSenders", {"--show"}, false, LaunchMode::ShowWindow},
        LaunchCase{"ShowAfterOtherArguments", {"x", "--silent", "--show"}, true, LaunchMode::ShowWindow},
        LaunchCase{"ShowWithLinkStartsSilently",
                   {"--show", "vezorodar://open"},
                   false,
                   LaunchMode::SilentViaProtocol},
        LaunchCase{"LinkBeforeShow", {"vezorodar://a", "--show"}, true, LaunchMode::SilentViaProtocol},
        LaunchCase{"LinkWithoutSenders", {"vezorodar://"}, false, LaunchMode::SilentViaProtocol},
        // Browsers pass a link as it stands: any case, with or without "//".
        LaunchCase{"SchemeInCapitals", {"VEZORODAR://open"}, false, LaunchMode::SilentViaProtocol},
        LaunchCase{"LinkWithoutSlashes", {"vezorodar:x"}, false, LaunchMode::SilentViaProtocol},
        LaunchCase{"ShowWithLinkInMixedCase", {"--show", "VezoRodar:x"}, true, LaunchMode::SilentViaProtocol},
        LaunchCase{"SchemeNameAlone", {"vezorodar"}, false, LaunchMode::FirstRun},
        LaunchCase{"SchemeNotAtTheStart", {"x-vezorodar://open"}, true, LaunchMode::SilentTrayOnly},
        LaunchCase{"ShowInCapitals", {"--SHOW"}, false, LaunchMode::FirstRun}),
    [](const ::testing::TestParamInfo<LaunchCase>& info) { return std::string(info.param.name); });

// Any link of the scheme, in any case and with or without "//", is a link
// and never brings the window up.
TEST(LaunchModeTest, OnlyAStartByHandAsksTheRunningAgentForItsWindow) {
    const struct {
        std::vector<std::string> args;
        bool asks;
    } cases[] = {
        {{}, true},
        {{"--show"}, true},
        {{"--silent"}, false},
        {{"vezorodar://open"}, false},
        {{"--show", "vezorodar://x"}, false},
        {{"VEZORODAR://open"}, false},
        {{"vezorodar:x"}, false},
        {{"--show", "VezoRodar:sign?doc=1"}, false},
        {{"vezorodar:"}, false},
        {{"vezorodar"}, true},
        {{"vezorodarx:open"}, true},
        {{"x-vezorodar://open"}, true},
        {{"--SILENT"}, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(shouldAskForWindow(c.args), c.asks) << ::testing::PrintToString(c.args);
    }
}

}  // namespace
}  // namespace velk::agent
