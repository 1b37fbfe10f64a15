#include "features/common/InputChecks.h"

#include <filesystem>
#include <system_error>

#include "platform/RegularFile.h"

namespace velk::core::features {

namespace {

operations::InputCheck checked(bool ok, const std::string& path) {
    if (ok) {
        return {true, {}};
    }
    return {false, {"Файлът не съществува: " + path}};
}

}  // namespace

operations::InputCheck requireRegularFile(const std::string& path) {
    std::error_code error;
    return checked(!path.empty() && std::filesystem::is_regular_file(path, error), path);
}

operations::InputCheck requireExistingPath(const std::string& path) {
    return checked(!path.empty() && std::filesystem::exists(path), path);
}

std::string tooLargeFileMessage(const std::string& path) {
    return "Файлът е по-голям от " + std::to_string(platform::kMaxWholeFileMiB) + " MiB: " + path;
}

}  // namespace velk::core::features
