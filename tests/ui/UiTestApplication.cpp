// One offscreen Qt application for the whole test program, in folders of its
// own; linked into every test program of this folder.
#include <QApplication>

#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace velk::test {

namespace {

class UiApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        home_ = std::make_unique<IsolatedHome>();
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("XDG_RUNTIME_DIR", home_->dir().str().c_str(), 1);
        app_ = std::make_unique<QApplication>(argc_, argv_);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override {
        app_.reset();
        home_.reset();
    }

private:
    int argc_ = 1;
    char name_[16] = "ui_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<IsolatedHome> home_;
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new UiApplicationEnvironment);

}  // namespace

}  // namespace velk::test
