#include "platform/AutoStart.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

#include "platform/AppPaths.h"
#include "platform/DesktopEntry.h"

namespace velk::platform {

namespace {

constexpr const char* kEntryFileName = "VezoRodar.desktop";

}  // namespace

std::string AutoStart::entryPath() {
    const std::string config = configDir();
    if (config.empty()) {
        return {};
    }
    return joinPath(joinPath(config, "autostart"), kEntryFileName);
}

std::string AutoStart::execLine(const std::string& executablePath, const std::string& arguments) {
    return desktopEntryExecLine(executablePath, arguments);
}

bool AutoStart::isEnabled() {
    const std::string path = entryPath();
    if (path.empty()) {
        return false;
    }
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

bool AutoStart::enable(const std::string& executablePath, const std::string& arguments) {
    const std::string path = entryPath();
    if (path.empty() || executablePath.empty() || !isDesktopEntryText(executablePath) ||
        !isDesktopEntryText(arguments)) {
        return false;
    }
    const std::optional<std::string> program = desktopEntryProgram(executablePath);
    if (!program) {
        return false;  // the session would refuse the entry
    }
    const std::string entry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=VELK Agent\n"
        "Exec=" +
        execLine(*program, arguments) +
        "\n"
        "Terminal=false\n"
        "X-GNOME-Autostart-enabled=true\n";
    return writeDesktopIntegrationFile(path, entry) == 0;
}

bool AutoStart::disable() {
    const std::string path = entryPath();
    if (path.empty()) {
        return false;
    }
    if (std::remove(path.c_str()) == 0) {
        return true;
    }
    // A missing folder or file both mean there is nothing to start.
    return errno == ENOENT;
}

}  // namespace velk::platform
