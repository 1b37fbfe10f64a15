#pragma once

#include <string>

namespace velk::platform {

// The vezorodar:// URL scheme for the user, in place of the per-user registry
// classes of Windows: a desktop entry
// $XDG_DATA_HOME/applications/vezorodar.desktop that handles
// x-scheme-handler/vezorodar by running the agent with the link as its one
// argument, and that entry named as the scheme's default application in
// $XDG_CONFIG_HOME/mimeapps.list. Stateless; GUI thread only.
class ProtocolHandler {
public:
    static constexpr const char* kMimeType = "x-scheme-handler/vezorodar";
    static constexpr const char* kEntryFileName = "vezorodar.desktop";

    // True when the entry exists and mimeapps.list names a default
    // application for the scheme, whatever either holds: a registration that
    // points to another copy of the program counts.
    static bool isRegistered();
    // True when the entry is the one an earlier version wrote for this
    // executable, with the program in quotes it does not need: xdg-open on a
    // desktop it does not recognise cannot run it, so it is written again.
    static bool hasOutdatedEntryFor(const std::string& executablePath);
    // Writes the entry, then the default-application line into mimeapps.list
    // (every other line of that file kept), both atomically. A path with '%'
    // is registered through the installed link to the same program. False,
    // with an ERROR line, when the path is empty, cannot stand in a desktop
    // entry, holds '%' without such a link, or a file could not be written;
    // what was written before stays.
    static bool registerHandler(const std::string& executablePath);

    // Empty when no data (or configuration) folder can be found.
    static std::string entryPath();
    static std::string mimeAppsPath();
    // The entry's text for the executable.
    static std::string entryText(const std::string& executablePath);
    // mimeapps.list text with "x-scheme-handler/vezorodar=vezorodar.desktop"
    // as the only line of that key in [Default Applications]; the group is
    // added at the end when missing. Every other line stays as it is.
    static std::string withDefaultHandler(const std::string& mimeApps);
};

}  // namespace velk::platform
