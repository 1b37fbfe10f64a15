#include "agent/QtMessageHandler.h"

#include <QtGlobal>

#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "support/LogCapture.h"

namespace velk::agent {
namespace {

// Installs the agent's handler for one test and puts Qt's back after it.
class QtMessageHandlerTest : public ::testing::Test {
protected:
    QtMessageHandlerTest() : previous_(qInstallMessageHandler(nullptr)) { installQtMessageHandler(); }
    ~QtMessageHandlerTest() override { qInstallMessageHandler(previous_); }

private:
    QtMessageHandler previous_;
};

struct MessageCase {
    const char* name;
    QtMsgType type;
    const char* category;  // null: Qt's default category
    const char* message;
    const char* level;
    std::string expected;
};

// Named in test output by its name alone.
void PrintTo(const MessageCase& c, std::ostream* out) {
    *out << c.name;
}

class QtMessageLevelsTest : public QtMessageHandlerTest, public ::testing::WithParamInterface<MessageCase> {};

void emitThroughQt(const MessageCase& c) {
    const QMessageLogger logger = c.category != nullptr ? QMessageLogger(nullptr, 0, nullptr, c.category)
                                                        : QMessageLogger(nullptr, 0, nullptr);
    switch (c.type) {
        case QtDebugMsg:
            logger.debug("%s", c.message);
            break;
        case QtInfoMsg:
            logger.info("%s", c.message);
            break;
        case QtWarningMsg:
            logger.warning("%s", c.message);
            break;
        case QtCriticalMsg:
            logger.critical("%s", c.message);
            break;
        default:
            FAIL() << "not a case of this table";
    }
}

TEST_P(QtMessageLevelsTest, ForwardsIntoTheLog) {
    const MessageCase& c = GetParam();
    test::LogCapture log;
    emitThroughQt(c);
    const auto& lines = log.stop();
    ASSERT_EQ(lines.size(), 1u);
    const std::string tail = "[" + std::string(c.level) + "] " + c.expected;
    EXPECT_TRUE(lines.front().ends_with(tail)) << lines.front() << "\nwanted the end: " << tail;
}

INSTANTIATE_TEST_SUITE_P(
    Messages, QtMessageLevelsTest,
    ::testing::Values(
        MessageCase{"WarningWithoutCategory", QtWarningMsg, nullptr, "no font", "WARN ", "qt: no font"},
        MessageCase{"WarningWithCategory", QtWarningMsg, "qt.qpa.xcb", "no display", "WARN ",
                    "qt[qt.qpa.xcb] no display"},
        MessageCase{"Debug", QtDebugMsg, "velk.test", "d", "DEBUG", "qt[velk.test] d"},
        MessageCase{"Info", QtInfoMsg, nullptr, "i", "INFO ", "qt: i"},
        MessageCase{"Critical", QtCriticalMsg, "velk.test", "c", "ERROR", "qt[velk.test] c"},
        MessageCase{"Utf8", QtWarningMsg, nullptr, "Грешка", "WARN ", "qt: Грешка"},
        MessageCase{"SeveralLinesStayOne", QtWarningMsg, nullptr, "a\nb", "WARN ", "qt: a\\x0Ab"}),
    [](const ::testing::TestParamInfo<MessageCase>& info) { return std::string(info.param.name); });

using QtMessageHandlerDeathTest = QtMessageHandlerTest;

TEST_F(QtMessageHandlerDeathTest, AFatalMessageIsLoggedThenAborts) {
    EXPECT_DEATH(QMessageLogger(nullptr, 0, nullptr).fatal("broken %d", 7), "\\[ERROR\\] qt: broken 7");
}

}  // namespace
}  // namespace velk::agent
