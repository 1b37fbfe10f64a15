#include "agent/TerminationSignals.h"

#include <signal.h>

#include <QApplication>
#include <QTimer>

#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "support/LogCapture.h"

namespace velk::agent {
namespace {

struct SignalCase {
    const char* name;
    int number;
};

// Named in test output by its name alone.
void PrintTo(const SignalCase& c, std::ostream* out) {
    *out << c.name;
}

class TerminationSignalsTest : public ::testing::TestWithParam<SignalCase> {};

// Not a timing check: only a guard, so a loop that never ends fails the test
// instead of hanging it.
constexpr int kGuardExitCode = 99;
constexpr int kGuardMs = 60'000;

TEST_P(TerminationSignalsTest, EndsTheEventLoopInsteadOfTheProcess) {
    const SignalCase& c = GetParam();
    struct sigaction before {};
    sigaction(c.number, nullptr, &before);

    test::LogCapture log;
    {
        const TerminationSignals terminationSignals;
        ASSERT_TRUE(terminationSignals.active());
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(kGuardExitCode); });
        guard.start(kGuardMs);
        // Raised before the loop runs, as during start-up: kept until it does.
        ::raise(c.number);
        EXPECT_EQ(QApplication::exec(), 0);
    }
    EXPECT_EQ(log.count("INFO", std::string("VezoRodarC: ") + c.name + " received, shutting down"), 1);

    struct sigaction after {};
    sigaction(c.number, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

INSTANTIATE_TEST_SUITE_P(Signals, TerminationSignalsTest,
                         ::testing::Values(SignalCase{"SIGTERM", SIGTERM}, SignalCase{"SIGINT", SIGINT}),
                         [](const ::testing::TestParamInfo<SignalCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace velk::agent
