// One Qt application for the whole test program, made the way the agent
// makes it: offscreen, in per-test folders, and configured by the agent's own
// start-up code.
#include "agent_startup/QtTestApplication.h"

#include <QApplication>

#include <clocale>
#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

#include "agent/ApplicationLook.h"
#include "support/TempDir.h"

namespace velk::test {

namespace {

bool commaLocale = false;

class QtApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        home_ = std::make_unique<IsolatedHome>();
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("XDG_RUNTIME_DIR", home_->dir().str().c_str(), 1);
        // The application takes the locale from the environment when it is made.
        if (std::setlocale(LC_ALL, "bg_BG.UTF-8") != nullptr) {
            setenv("LC_ALL", "bg_BG.UTF-8", 1);
            commaLocale = true;
        }
        std::setlocale(LC_ALL, "C");
        app_ = std::make_unique<QApplication>(argc_, argv_);
        agent::configureApplication(*app_);
    }
    void TearDown() override {
        app_.reset();
        home_.reset();
    }

private:
    int argc_ = 1;
    char name_[16] = "agent_qt_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<IsolatedHome> home_;
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

}  // namespace

bool qtApplicationUnderCommaLocale() {
    return commaLocale;
}

}  // namespace velk::test
