#pragma once

#include <map>
#include <memory>
#include <string>

#include "e2e/Subprocess.h"

namespace velk::test {

// A desktop of the test's own: an X server without a screen (Xvfb, on the
// first free display number), a D-Bus session bus, and on request the
// accessibility bus through which AT-SPI clients reach the programs' widgets.
// Everything goes when the object goes.
class TestDesktop {
public:
    // folder holds the runtime folder and the programs' output. Throws
    // std::runtime_error naming what is missing or failed.
    explicit TestDesktop(const std::string& folder);
    ~TestDesktop();
    TestDesktop(const TestDesktop&) = delete;
    TestDesktop& operator=(const TestDesktop&) = delete;

    // DISPLAY, DBUS_SESSION_BUS_ADDRESS, XDG_RUNTIME_DIR and a HOME for the
    // desktop's own tools (a program under test gets one of its own).
    const std::map<std::string, std::string>& environment() const { return environment_; }

    // Starts the accessibility bus, once. Qt 5.15 joins that bus only when
    // it appears after the program's accessibility bridge was made, which
    // happens when its first window is shown; so this is called once the
    // first window under test is up.
    void startAccessibilityBus();

    // What the desktop's programs wrote, for a failure message.
    std::string diagnostics() const;

private:
    std::string folder_;
    std::map<std::string, std::string> environment_;
    std::unique_ptr<Subprocess> xserver_;
    std::unique_ptr<Subprocess> sessionBus_;
    std::unique_ptr<Subprocess> accessibilityBus_;
};

}  // namespace velk::test
