#include "e2e/DialogDriver.h"

#include <stdexcept>
#include <string_view>
#include <thread>

#include "e2e/Subprocess.h"

namespace velk::test {

namespace {

using Clock = std::chrono::steady_clock;

// An extended regular expression that matches exactly this text.
std::string exactPattern(const std::string& text) {
    std::string pattern = "^";
    for (const char c : text) {
        if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) {
            pattern += '\\';
        }
        pattern += c;
    }
    return pattern + "$";
}

}  // namespace

DialogDriver::DialogDriver(TestDesktop& desktop, std::string scriptFolder, std::string outputFolder)
    : desktop_(desktop), scriptFolder_(std::move(scriptFolder)), outputFolder_(std::move(outputFolder)) {}

bool DialogDriver::waitForWindow(const std::string& title, std::chrono::seconds deadline) {
    const std::string xdotool = findExecutable({"/usr/bin/xdotool"});
    if (xdotool.empty()) {
        throw std::runtime_error("/usr/bin/xdotool is missing: install xdotool (scripts/setup)");
    }
    // xdotool reads window names in the locale's encoding.
    auto environment = isolatedEnvironment(desktop_.environment());
    environment["LC_ALL"] = "C.UTF-8";
    const auto end = Clock::now() + deadline;
    while (Clock::now() < end) {
        const ToolResult found = runTool(
            {xdotool, "search", "--onlyvisible", "--name", exactPattern(title)}, environment,
            outputFolder_ + "/xdotool-" + std::to_string(++toolRuns_) + ".log", std::chrono::seconds(10));
        if (found.exitCode == 0 && !found.output.empty()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return false;
}

std::string DialogDriver::press(const std::string& title, const std::string& button,
                                const std::vector<std::string>& expectedTexts,
                                std::chrono::seconds deadline) {
    std::vector<std::string> options = {"--title", title, "--button", button};
    for (const std::string& text : expectedTexts) {
        options.push_back("--expect");
        options.push_back(text);
    }
    return runPress(std::move(options), deadline);
}

std::string DialogDriver::fillAndPress(const std::string& title, const std::string& text,
                                       const std::string& button, std::chrono::seconds deadline) {
    return runPress({"--title", title, "--button", button, "--fill", text}, deadline);
}

std::string DialogDriver::runPress(std::vector<std::string> options, std::chrono::seconds deadline) {
    // The distribution's own interpreter: pyatspi is a Debian package.
    const std::string python = findExecutable({"/usr/bin/python3"});
    if (python.empty()) {
        return "/usr/bin/python3 is missing: install python3-pyatspi (scripts/setup)";
    }
    desktop_.startAccessibilityBus();
    std::vector<std::string> argv = {python, scriptFolder_ + "/press_button.py", "--timeout",
                                     std::to_string(deadline.count())};
    argv.insert(argv.end(), options.begin(), options.end());
    // The script ends itself at the deadline; the margin only catches a hang.
    const ToolResult pressed = runTool(argv, isolatedEnvironment(desktop_.environment()),
                                       outputFolder_ + "/press-" + std::to_string(++toolRuns_) + ".log",
                                       deadline + std::chrono::seconds(30));
    if (pressed.exitCode == 0) {
        return {};
    }
    return "press_button " +
           (pressed.exitCode ? "ended with " + std::to_string(*pressed.exitCode) : std::string("hung")) +
           ": " + pressed.output;
}

}  // namespace velk::test
