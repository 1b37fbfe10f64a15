#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "e2e/TestDesktop.h"

namespace velk::test {

// Drives a program's dialogs on a TestDesktop the way a user does: waits for
// a window by its title on the X display, then presses a button by its name
// over AT-SPI (the script press_button.py), so neither the style's button
// order nor the keyboard focus matters.
class DialogDriver {
public:
    // scriptFolder holds press_button.py; outputFolder the tools' output.
    DialogDriver(TestDesktop& desktop, std::string scriptFolder, std::string outputFolder);

    // True once a visible window has exactly this title.
    bool waitForWindow(const std::string& title, std::chrono::seconds deadline);

    // Checks that every expected text is shown in the window with the title,
    // then presses the button. "" when pressed, else what went wrong.
    std::string press(const std::string& title, const std::string& button,
                      const std::vector<std::string>& expectedTexts, std::chrono::seconds deadline);

    // Types text into the window's first editable field, as a user types a
    // PIN, then presses the button as press does.
    std::string fillAndPress(const std::string& title, const std::string& text, const std::string& button,
                             std::chrono::seconds deadline);

private:
    std::string runPress(std::vector<std::string> options, std::chrono::seconds deadline);

    TestDesktop& desktop_;
    std::string scriptFolder_;
    std::string outputFolder_;
    int toolRuns_ = 0;
};

}  // namespace velk::test
