#include "agent/SettingsPath.h"

#include <filesystem>
#include <system_error>

#include "platform/AppPaths.h"

namespace velk::agent {

std::string settingsFilePath() {
    const std::string folder = platform::dataDir();
    if (folder.empty()) {
        // Never fall back to the current folder.
        throw std::filesystem::filesystem_error("no per-user data folder (no home folder found)",
                                                std::make_error_code(std::errc::no_such_file_or_directory));
    }
    std::filesystem::create_directories(folder);
    return platform::joinPath(folder, "settings.json");
}

}  // namespace velk::agent
