#include "platform/AppPaths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace velk::platform {

namespace {

constexpr const char* kDataFolderName = "VEZORodar";

bool isAbsolute(const char* path) {
    return path != nullptr && path[0] == '/';
}

// The home folder from the environment, else from the user database.
std::string homeDir() {
    const char* home = std::getenv("HOME");
    if (isAbsolute(home)) {
        return home;
    }
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd pw{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result != nullptr &&
        isAbsolute(result->pw_dir)) {
        return result->pw_dir;
    }
    return {};
}

// An XDG base folder: the variable when it holds an absolute path, else the
// fallback below the home folder.
std::string xdgDir(const char* variable, std::string_view homeRelative) {
    const char* value = std::getenv(variable);
    if (isAbsolute(value)) {
        return value;
    }
    const std::string home = homeDir();
    if (home.empty()) {
        return {};
    }
    return joinPath(home, homeRelative);
}

std::string below(const std::string& parent, std::string_view child) {
    return parent.empty() ? std::string() : joinPath(parent, child);
}

}  // namespace

std::string joinPath(std::string_view left, std::string_view right) {
    if (left.empty()) {
        return std::string(right);
    }
    std::string out(left);
    if (out.back() != '/') {
        out.push_back('/');
    }
    out.append(right);
    return out;
}

bool createDirectories(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    // Folder by folder, so that each one is private from its first moment.
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string prefix = path.substr(0, end);
        struct stat st {};
        if (!prefix.empty() && prefix.back() != '/' && ::stat(prefix.c_str(), &st) != 0) {
            if (errno != ENOENT || (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)) {
                return false;
            }
        }
        if (end == std::string::npos) {
            break;
        }
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool createPrivateFolder(const std::string& path) {
    if (!createDirectories(path)) {
        return false;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    if ((st.st_mode & 077) == 0 || st.st_uid != ::geteuid()) {
        return true;  // private already, or not ours to change
    }
    return ::chmod(path.c_str(), st.st_mode & 0700) == 0;
}

std::string executableDir() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return {};
    }
    const std::string parent = exe.parent_path().string();
    return parent.empty() ? std::string("/") : parent;
}

std::string localAppDataDir() {
    return xdgDir("XDG_DATA_HOME", ".local/share");
}

std::string configDir() {
    return xdgDir("XDG_CONFIG_HOME", ".config");
}

std::string dataDir() {
    return below(localAppDataDir(), kDataFolderName);
}

std::string logsDir() {
    return below(dataDir(), "Logs");
}

std::string zezizUrDir() {
    return below(dataDir(), "ZezizUR");
}

std::string zezizUrJarDir() {
    return zezizUrDir();
}

std::string zezizUrNativeDir() {
    return below(zezizUrDir(), "native");
}

std::string zezizUrWrapperDir() {
    return below(zezizUrDir(), "wrapper");
}

std::string shortPathName(const std::string& path) {
    return path;
}

}  // namespace velk::platform
