#pragma once

#include <string>

namespace velk::agent {

// The path of settings.json in the agent's per-user data folder, which is
// created with its missing parents. Throws std::filesystem::filesystem_error
// naming the folder when it cannot be made or there is no per-user folder.
std::string settingsFilePath();

}  // namespace velk::agent
