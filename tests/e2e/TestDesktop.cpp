#include "e2e/TestDesktop.h"

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace velk::test {

namespace {

using namespace std::chrono_literals;

std::string required(const std::vector<std::string>& candidates, const std::string& package) {
    std::string path = findExecutable(candidates);
    if (path.empty()) {
        throw std::runtime_error(candidates.front() + " is missing: install " + package + " (scripts/setup)");
    }
    return path;
}

}  // namespace

TestDesktop::TestDesktop(const std::string& folder) : folder_(folder) {
    const std::string xvfb = required({"/usr/bin/Xvfb"}, "xvfb");
    const std::string dbus = required({"/usr/bin/dbus-daemon"}, "dbus-daemon");

    const std::string runtime = folder_ + "/runtime";
    std::filesystem::create_directories(runtime);
    ::chmod(runtime.c_str(), 0700);

    // -displayfd: the server takes the first free display number and writes
    // it to descriptor 3 once it accepts clients, so tests run side by side.
    xserver_ = std::make_unique<Subprocess>(Subprocess::Options{
        {xvfb, "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"},
        isolatedEnvironment({}),
        folder_ + "/xvfb.log",
        true});
    const auto display = xserver_->readReportLine(30s);
    if (!display || display->empty()) {
        throw std::runtime_error("Xvfb did not start: " + xserver_->output());
    }
    environment_["DISPLAY"] = ":" + *display;
    environment_["XDG_RUNTIME_DIR"] = runtime;
    environment_["HOME"] = folder_;

    sessionBus_ = std::make_unique<Subprocess>(
        Subprocess::Options{{dbus, "--session", "--nofork", "--nopidfile", "--print-address=3"},
                            isolatedEnvironment(environment_),
                            folder_ + "/session-bus.log",
                            true});
    const auto address = sessionBus_->readReportLine(30s);
    if (!address || address->empty()) {
        throw std::runtime_error("the D-Bus session bus did not start: " + sessionBus_->output());
    }
    environment_["DBUS_SESSION_BUS_ADDRESS"] = *address;
}

TestDesktop::~TestDesktop() {
    // The buses before the display their clients draw on.
    accessibilityBus_.reset();
    sessionBus_.reset();
    xserver_.reset();
}

void TestDesktop::startAccessibilityBus() {
    if (accessibilityBus_) {
        return;
    }
    const std::string launcher = required(
        {"/usr/libexec/at-spi-bus-launcher", "/usr/lib/at-spi2-core/at-spi-bus-launcher"}, "at-spi2-core");
    accessibilityBus_ = std::make_unique<Subprocess>(Subprocess::Options{{launcher, "--launch-immediately"},
                                                                         isolatedEnvironment(environment_),
                                                                         folder_ + "/accessibility-bus.log",
                                                                         false});
}

std::string TestDesktop::diagnostics() const {
    std::string out;
    for (const auto* process : {&xserver_, &sessionBus_, &accessibilityBus_}) {
        if (*process) {
            out += (*process)->output();
        }
    }
    return out;
}

}  // namespace velk::test
