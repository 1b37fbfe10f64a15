#include "agent/TestEndpoints.h"

#include <fstream>

#include <gtest/gtest.h>

#include "agent/FileSettings.h"
#include "support/ChildProcess.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace velk::agent {
namespace {

using test::ScopedEnv;

constexpr const char* kVariable = "VELK_USE_TEST_ENDPOINTS";

struct SwitchCase {
    const char* name;
    std::optional<std::string> variable;
    const char* devJson;  // nullptr: no dev.json
    bool enabled;
    const char* source;  // the WARN line's source when enabled
};
void PrintTo(const SwitchCase& c, std::ostream* os) {
    *os << c.name;
}

class TestEndpointsSwitchTest : public testing::TestWithParam<SwitchCase> {};

TEST_P(TestEndpointsSwitchTest, DecidesFromTheVariableThenDevJson) {
    test::TempDir folder;
    if (GetParam().devJson != nullptr) {
        std::ofstream(folder.sub("dev.json")) << GetParam().devJson;
    }
    ScopedEnv variable(kVariable, GetParam().variable);
    test::LogCapture log;
    EXPECT_EQ(detectTestEndpoints(folder.str()), GetParam().enabled);
    if (GetParam().enabled) {
        EXPECT_EQ(log.count("WARN", std::string("VezoRodarC: NAP endpoints OVERRIDDEN to api-test via ") +
                                        GetParam().source + " — DEV MODE"),
                  1);
    } else {
        EXPECT_TRUE(log.stop().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, TestEndpointsSwitchTest,
    testing::Values(
        SwitchCase{"Nothing", std::nullopt, nullptr, false, ""},
        SwitchCase{"Variable", "1", R"({"useTestEndpoints":false})", true, "VELK_USE_TEST_ENDPOINTS env var"},
        SwitchCase{"VariableAnyText", "no", nullptr, true, "VELK_USE_TEST_ENDPOINTS env var"},
        SwitchCase{"EmptyVariableLeavesItToDevJson", "", R"({"useTestEndpoints":true})", true,
                   "dev.json useTestEndpoints"},
        SwitchCase{"DevJsonTrue", std::nullopt, R"({"useTestEndpoints":true,"other":1})", true,
                   "dev.json useTestEndpoints"},
        SwitchCase{"DevJsonFalse", std::nullopt, R"({"useTestEndpoints":false})", false, ""},
        SwitchCase{"DevJsonWithoutKey", std::nullopt, "{}", false, ""},
        SwitchCase{"DevJsonNotBoolean", std::nullopt, R"({"useTestEndpoints":"true"})", false, ""},
        SwitchCase{"DevJsonNotObject", std::nullopt, "[true]", false, ""},
        SwitchCase{"DevJsonBroken", std::nullopt, R"({"useTestEndpoints":true)", false, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// The process-wide switch is decided once, so each case runs in a fresh child.
struct EndpointCase {
    const char* name;
    std::optional<std::string> variable;
    const char* submit;
    const char* status;
};
void PrintTo(const EndpointCase& c, std::ostream* os) {
    *os << c.name;
}

class RestEndpointsTest : public testing::TestWithParam<EndpointCase> {};

TEST_P(RestEndpointsTest, TestModeWinsOverTheStoredOverride) {
    test::IsolatedHome home;
    const std::string path = home.dir().sub("settings.json");
    std::ofstream(path) << R"({"schemaVersion":2,"senders":[],"napRestSubmitUrl":"https://override/submit"})";
    const EndpointCase c = GetParam();
    const int end = test::runInChild([&] {
        ScopedEnv variable(kVariable, c.variable);
        FileSettings settings(path);
        return settings.restSubmitUrl() == c.submit && settings.restStatusUrl() == c.status ? 0 : 1;
    });
    EXPECT_EQ(end, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, RestEndpointsTest,
    testing::Values(EndpointCase{"Production", std::nullopt, "https://override/submit",
                                 "https://api.nra.bg/declaration/api-declarations/result"},
                    EndpointCase{"TestMode", "1", "https://api-test.nra.bg/declaration/api-declarations/",
                                 "https://api-test.nra.bg/declaration/api-declarations/result"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velk::agent
