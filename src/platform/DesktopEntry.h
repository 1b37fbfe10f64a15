#pragma once

#include <optional>
#include <string>

namespace velk::platform {

// The XDG desktop entries the agent writes for itself (the autostart entry,
// the URL-scheme handler).

// Where the installed package links the program into the search path.
inline constexpr const char* kInstalledProgramFolder = "/usr/bin";

// The Exec value that runs the executable with the arguments, which are taken
// as already written for an Exec line ("--silent", "%u"). The path stands
// bare unless it holds a character the freedesktop.org Desktop Entry rules reserve;
// then it goes in double quotes, escaped as those rules require.
// Bare where it can be, because xdg-open on a desktop it does not recognise
// (the road of Chromium-family browsers) cannot run a quoted program.
std::string desktopEntryExecLine(const std::string& executablePath, const std::string& arguments);

// The program path an Exec line should name for the executable: the path
// itself; or, for a path with '%' (GLib refuses such a program whatever the
// escaping), the link of the same name in linkFolder when it leads to the same
// file. Nothing when no entry could start the executable.
std::optional<std::string> desktopEntryProgram(const std::string& executablePath,
                                               const std::string& linkFolder = kInstalledProgramFolder);

// Whether the text can stand in a desktop entry's value: UTF-8 without
// control characters other than those the value escapes can spell.
bool isDesktopEntryText(const std::string& text);

// Writes a file of the user's desktop integration atomically, making its
// folder first. Returns 0 or an errno value.
int writeDesktopIntegrationFile(const std::string& path, const std::string& contents);

}  // namespace velk::platform
