#include "platform/ProtocolHandler.h"

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/DesktopEntry.h"

namespace velk::platform {

namespace {

using core::LogLevel;
using core::logLine;

constexpr std::string_view kDefaultGroup = "[Default Applications]";
// The user's own file: one larger than this is not ours to rewrite.
constexpr std::size_t kMaxMimeAppsBytes = 4 * 1024 * 1024;

// The lines of a text, each with its own line end (the last may have none).
std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::size_t length = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back(text.substr(0, length));
        text.remove_prefix(length);
    }
    return lines;
}

bool isGroupHeader(std::string_view line) {
    const std::string_view text = core::trimView(line);
    return !text.empty() && text.front() == '[' && text.back() == ']';
}

bool isSchemeKey(std::string_view line) {
    const std::size_t equals = line.find('=');
    return equals != std::string_view::npos &&
           core::trimView(line.substr(0, equals)) == ProtocolHandler::kMimeType;
}

std::string defaultLine() {
    return std::string(ProtocolHandler::kMimeType) + "=" + ProtocolHandler::kEntryFileName + "\n";
}

// The file to replace: a mimeapps.list that links elsewhere (a dotfile
// manager's) is written where it points, so the link stays.
std::string writeTarget(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_symlink(path, ec)) {
        const auto target = std::filesystem::weakly_canonical(path, ec);
        if (!ec) {
            return target.string();
        }
    }
    return path;
}

// What mimeapps.list holds now: empty when it is missing. Nothing, with the
// error in error, when it cannot be read, is too large to be a settings file
// or is not a regular file at all.
std::optional<std::string> readMimeApps(const std::string& path, int& error) {
    std::string text;
    const int rc = readWholeFile(path, text, kMaxMimeAppsBytes);
    if (rc == ENOENT) {
        return std::string();
    }
    if (rc != 0) {
        error = rc;
        return std::nullopt;
    }
    return text;
}

void logWriteFailure(const std::string& path, int error) {
    const std::string reason = error == kNotRegularFileError ? fileErrorText(error) : std::to_string(error);
    logLine(LogLevel::Error, "ProtocolHandler::registerHandler: cannot write " +
                                 core::escapeControlBytes(path) + " → " + reason);
}

}  // namespace

std::string ProtocolHandler::entryPath() {
    const std::string data = localAppDataDir();
    if (data.empty()) {
        return {};
    }
    return joinPath(joinPath(data, "applications"), kEntryFileName);
}

std::string ProtocolHandler::mimeAppsPath() {
    const std::string config = configDir();
    if (config.empty()) {
        return {};
    }
    return joinPath(config, "mimeapps.list");
}

std::string ProtocolHandler::entryText(const std::string& executablePath) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=VELK Agent\n"
           "Exec=" +
           desktopEntryExecLine(executablePath, "%u") +
           "\n"
           "Icon=vezorodar\n"
           "Terminal=false\n"
           "NoDisplay=true\n"
           "MimeType=" +
           std::string(kMimeType) + ";\n";
}

std::string ProtocolHandler::withDefaultHandler(const std::string& mimeApps) {
    const std::vector<std::string_view> lines = splitLines(mimeApps);
    std::string out;
    out.reserve(mimeApps.size() + 64);
    bool inDefaults = false;
    bool written = false;
    // Where the line goes when the group has none: after the group's last
    // line that is not blank.
    std::optional<std::size_t> insertAt;
    for (const std::string_view line : lines) {
        if (isGroupHeader(line)) {
            inDefaults = core::trimView(line) == kDefaultGroup;
            if (inDefaults && !insertAt) {
                if (!out.empty() && out.back() != '\n') {
                    out.push_back('\n');
                }
                out.append(line);
                if (out.back() != '\n') {
                    out.push_back('\n');
                }
                insertAt = out.size();
                continue;
            }
        } else if (inDefaults && isSchemeKey(line)) {
            if (!written) {
                out += defaultLine();
                written = true;
            }
            continue;  // a second line of the key would contradict the first
        }
        out.append(line);
        if (inDefaults && insertAt && !written && !core::trimView(line).empty()) {
            if (out.back() != '\n') {
                out.push_back('\n');
            }
            insertAt = out.size();
        }
    }
    if (written) {
        return out;
    }
    if (insertAt) {
        out.insert(*insertAt, defaultLine());
        return out;
    }
    if (!out.empty()) {
        if (out.back() != '\n') {
            out.push_back('\n');
        }
        out.push_back('\n');
    }
    out.append(kDefaultGroup);
    out.push_back('\n');
    out += defaultLine();
    return out;
}

bool ProtocolHandler::isRegistered() {
    const std::string entry = entryPath();
    const std::string mimeApps = mimeAppsPath();
    std::error_code ec;
    if (entry.empty() || mimeApps.empty() || !std::filesystem::exists(entry, ec)) {
        return false;
    }
    int error = 0;
    const std::optional<std::string> text = readMimeApps(mimeApps, error);
    if (!text) {
        return false;
    }
    bool inDefaults = false;
    for (const std::string_view line : splitLines(*text)) {
        if (isGroupHeader(line)) {
            inDefaults = core::trimView(line) == kDefaultGroup;
        } else if (inDefaults && isSchemeKey(line)) {
            return true;
        }
    }
    return false;
}

bool ProtocolHandler::hasOutdatedEntryFor(const std::string& executablePath) {
    const std::optional<std::string> program = desktopEntryProgram(executablePath);
    const std::string entry = entryPath();
    if (!program || entry.empty()) {
        return false;
    }
    const std::string quoted = "\"" + *program + "\" %u";
    if (desktopEntryExecLine(*program, "%u") == quoted) {
        return false;  // the path needs its quotes: the entry is as it would be written now
    }
    std::string text;
    if (readWholeFile(entry, text, kMaxMimeAppsBytes) != 0) {
        return false;
    }
    for (const std::string_view line : splitLines(text)) {
        if (core::trimView(line) == "Exec=" + quoted) {
            return true;
        }
    }
    return false;
}

bool ProtocolHandler::registerHandler(const std::string& executablePath) {
    if (executablePath.empty() || !isDesktopEntryText(executablePath)) {
        logLine(LogLevel::Error, "ProtocolHandler::registerHandler: empty executable path");
        return false;
    }
    const std::optional<std::string> program = desktopEntryProgram(executablePath);
    if (!program) {
        logLine(LogLevel::Error, "ProtocolHandler::registerHandler: links cannot reach the agent from " +
                                     core::escapeControlBytes(executablePath) +
                                     ": the desktop refuses a program path with '%'");
        return false;
    }
    const std::string entry = entryPath();
    const std::string mimeApps = mimeAppsPath();
    if (entry.empty() || mimeApps.empty()) {
        logLine(LogLevel::Error,
                "ProtocolHandler::registerHandler: no per-user data or configuration folder");
        return false;
    }
    if (const int rc = writeDesktopIntegrationFile(entry, entryText(*program)); rc != 0) {
        logWriteFailure(entry, rc);
        return false;
    }
    const std::string target = writeTarget(mimeApps);
    int error = 0;
    const std::optional<std::string> current = readMimeApps(target, error);
    if (!current) {
        logWriteFailure(target, error);
        return false;
    }
    const std::string merged = withDefaultHandler(*current);
    if (merged != *current) {
        if (const int rc = writeDesktopIntegrationFile(target, merged); rc != 0) {
            logWriteFailure(target, rc);
            return false;
        }
    }
    logLine(LogLevel::Info, "vezorodar:// protocol registered under HKCU");
    return true;
}

}  // namespace velk::platform
