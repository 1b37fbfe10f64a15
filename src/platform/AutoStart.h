#pragma once

#include <string>

namespace velk::platform {

// Start with the desktop session: an XDG autostart entry
// $XDG_CONFIG_HOME/autostart/VezoRodar.desktop that runs the agent at log-in,
// in place of the per-user Run value of Windows. Stateless; GUI thread only.
class AutoStart {
public:
    // True when the entry exists, whatever it holds.
    static bool isEnabled();
    // Writes the entry (atomically) so that it runs the executable with the
    // arguments, which are taken as already written for an Exec line
    // ("--silent"). A path with '%' is written as the installed link to the
    // same program. False when there is no configuration folder, the path is
    // empty or not UTF-8, holds '%' without such a link, or the file could
    // not be written.
    static bool enable(const std::string& executablePath, const std::string& arguments);
    // True when the entry was removed or was not there.
    static bool disable();

    // The entry's path; empty when no configuration folder can be found.
    static std::string entryPath();
    // The Exec value for the executable and arguments: the path bare, or
    // quoted and escaped as the freedesktop.org Desktop Entry rules require when it
    // holds a reserved character.
    static std::string execLine(const std::string& executablePath, const std::string& arguments);
};

}  // namespace velk::platform
