#include "agent/TestSeams.h"

#include <optional>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace velk::agent {
namespace {

using test::LogCapture;
using test::ScopedEnv;

struct PortCase {
    const char* name;
    std::optional<std::string> value;
    bool valid;
    bool fromTestSeam;
    std::uint16_t port;
};

// Named in test output by its name alone.
void PrintTo(const PortCase& c, std::ostream* out) {
    *out << c.name;
}

class ApiPortTest : public ::testing::TestWithParam<PortCase> {};

TEST_P(ApiPortTest, ReadsTheTestPort) {
    const PortCase& c = GetParam();
    const ScopedEnv env("VELK_TEST_PORT", c.value);
    const ApiPortChoice choice = apiPortFromEnvironment();
    EXPECT_EQ(choice.valid, c.valid);
    EXPECT_EQ(choice.fromTestSeam, c.fromTestSeam);
    if (c.valid) {
        EXPECT_EQ(choice.port, c.port);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, ApiPortTest,
    ::testing::Values(PortCase{"Unset", std::nullopt, true, false, 5123},
                      PortCase{"Empty", "", true, false, 5123},
                      PortCase{"Number", "40123", true, true, 40123}, PortCase{"Lowest", "1", true, true, 1},
                      PortCase{"Highest", "65535", true, true, 65535}, PortCase{"Zero", "0", false, true, 0},
                      PortCase{"TooLarge", "65536", false, true, 0},
                      PortCase{"Negative", "-5", false, true, 0}, PortCase{"Text", "port", false, true, 0},
                      PortCase{"TrailingText", "8080x", false, true, 0},
                      PortCase{"LeadingBlank", " 8080", false, true, 0},
                      PortCase{"Huge", "99999999999999999999", false, true, 0}),
    [](const ::testing::TestParamInfo<PortCase>& info) { return std::string(info.param.name); });

TEST(TestSeamsTest, WarnsOncePerSeamInUse) {
    const ScopedEnv port("VELK_TEST_PORT", "40123");
    const ScopedEnv connectTo("VELK_TEST_CONNECT_TO", "portal.nra.bg:443:127.0.0.1:4443");
    const ScopedEnv caFile("VELK_TEST_CA_FILE", "/tmp/ca.pem");
    LogCapture log;
    logTestSeams(apiPortFromEnvironment());
    EXPECT_EQ(log.count("WARN", "VELK_TEST_PORT=40123"), 1);
    EXPECT_EQ(log.count("WARN", "VELK_TEST_CONNECT_TO=portal.nra.bg:443:127.0.0.1:4443"), 1);
    EXPECT_EQ(log.count("WARN", "VELK_TEST_CA_FILE=/tmp/ca.pem"), 1);
    EXPECT_EQ(log.stop().size(), 3u);
}

TEST(TestSeamsTest, SaysNothingInProduction) {
    const ScopedEnv port("VELK_TEST_PORT", std::nullopt);
    const ScopedEnv connectTo("VELK_TEST_CONNECT_TO", "");
    const ScopedEnv caFile("VELK_TEST_CA_FILE", std::nullopt);
    LogCapture log;
    logTestSeams(apiPortFromEnvironment());
    EXPECT_TRUE(log.stop().empty());
}

TEST(TestSeamsTest, AValueCannotStartAnotherLogLine) {
    const ScopedEnv caFile("VELK_TEST_CA_FILE", "/tmp/a\n2026-01-01 00:00:00 [INFO ] forged");
    LogCapture log;
    logTestSeams({});
    ASSERT_EQ(log.stop().size(), 1u);
    EXPECT_EQ(log.count("WARN", "/tmp/a\\x0A2026"), 1);
}

}  // namespace
}  // namespace velk::agent
