#pragma once

#include <string>
#include <string_view>

namespace velk::platform {

// Per-user folders and files of the agent. Every path is UTF-8. When no home
// can be found at all the folder functions return the empty text and callers
// do no file I/O: a path relative to the current folder is never used.

// Joins two path parts with one "/" unless the left one already ends with a
// separator; an empty left part yields the right part alone.
std::string joinPath(std::string_view left, std::string_view right);

// Creates every missing folder of the path, each private to the user (0700);
// true when nothing failed.
bool createDirectories(const std::string& path);

// As createDirectories, and the folder itself (one of the agent's own, such as
// the data or the log folder) is made private when an older version left it
// open to others: it holds settings, PINs and a log naming certificates.
bool createPrivateFolder(const std::string& path);

std::string executableDir();

// $XDG_DATA_HOME, else $HOME/.local/share, else the passwd home's .local/share.
std::string localAppDataDir();
// $XDG_CONFIG_HOME, else $HOME/.config, else the passwd home's .config.
std::string configDir();

std::string dataDir();  // localAppDataDir()/VEZORodar
std::string logsDir();  // dataDir()/Logs
std::string zezizUrDir();
std::string zezizUrJarDir();
std::string zezizUrNativeDir();
std::string zezizUrWrapperDir();

// Linux has no short names: the path itself.
std::string shortPathName(const std::string& path);

}  // namespace velk::platform
