#pragma once

#include <string>
#include <vector>

namespace velk::agent {

// How the desktop program shows itself when it starts.
enum class LaunchMode {
    ShowWindow,         // "--show": the main window, neither raised nor activated
    SilentViaProtocol,  // started by a link of the scheme: tray only
    SilentTrayOnly,     // senders exist: tray only
    FirstRun,           // no senders yet: the main window, raised and activated
};

// args are the arguments after the program name. "--show" is matched with
// its case, a link as isSchemeLink says; "--silent" is not looked at
// (senders decide).
LaunchMode chooseLaunchMode(const std::vector<std::string>& args, bool hasSenders);

// Whether a second start, which ends at once, asks the running agent for its
// window (where no tray icon can be clicked): not for any link of the scheme,
// nor for "--silent" (the start with the desktop session).
bool shouldAskForWindow(const std::vector<std::string>& args);

// Whether the argument is a link of the scheme at all: it begins with
// "vezorodar:" in any case, with or without "//" (browsers pass
// "vezorodar:x" as it stands).
bool isSchemeLink(const std::string& arg);

}  // namespace velk::agent
