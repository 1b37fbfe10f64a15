#include "agent/SettingsPath.h"

#include <cerrno>
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
    // Private: it holds the settings, the PINs and the log.
    if (!platform::createPrivateFolder(folder)) {
        throw std::filesystem::filesystem_error("cannot create the per-user data folder", folder,
                                                std::error_code(errno, std::generic_category()));
    }
    return platform::joinPath(folder, "settings.json");
}

}  // namespace velk::agent
