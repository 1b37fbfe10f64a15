#pragma once

#include <string>

namespace velk::platform {

// The XDG desktop entries the agent writes for itself (the autostart entry,
// the URL-scheme handler).

// The Exec value that runs the executable with the arguments, which are taken
// as already written for an Exec line ("--silent", "%u"): the path in double
// quotes, escaped as the Desktop Entry Specification requires.
std::string desktopEntryExecLine(const std::string& executablePath, const std::string& arguments);

// Whether the text can stand in a desktop entry's value: UTF-8 without
// control characters other than those the value escapes can spell.
bool isDesktopEntryText(const std::string& text);

// Writes a file of the user's desktop integration atomically, making its
// folder first. Returns 0 or an errno value.
int writeDesktopIntegrationFile(const std::string& path, const std::string& contents);

}  // namespace velk::platform
