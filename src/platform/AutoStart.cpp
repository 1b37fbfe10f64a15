#include "platform/AutoStart.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/TextUtils.h"
#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"

namespace velk::platform {

namespace {

constexpr const char* kEntryFileName = "VezoRodar.desktop";

// One argument of an Exec line in double quotes. Inside the quotes '"', '`',
// '$' and '\' take a backslash; '%' is doubled, so no part of a path is read
// as a field code.
std::string quoteArgument(const std::string& argument) {
    std::string out = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            out.push_back('\\');
        } else if (c == '%') {
            out.push_back('%');
        }
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

// The escapes of every string value of a desktop entry, applied over the
// quoting above. A line break in a value could otherwise start a key of its
// own.
std::string escapeStringValue(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

// A desktop entry is UTF-8 text without control characters other than those
// its string escapes can spell.
bool representable(const std::string& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\n' && c != '\r' && c != '\t') || byte == 0x7f) {
            return false;
        }
    }
    return core::isValidUtf8(text);
}

}  // namespace

std::string AutoStart::entryPath() {
    const std::string config = configDir();
    if (config.empty()) {
        return {};
    }
    return joinPath(joinPath(config, "autostart"), kEntryFileName);
}

std::string AutoStart::execLine(const std::string& executablePath, const std::string& arguments) {
    std::string line = quoteArgument(executablePath);
    if (!arguments.empty()) {
        line += ' ';
        line += arguments;
    }
    return escapeStringValue(line);
}

bool AutoStart::isEnabled() {
    const std::string path = entryPath();
    if (path.empty()) {
        return false;
    }
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

bool AutoStart::enable(const std::string& executablePath, const std::string& arguments) {
    const std::string path = entryPath();
    if (path.empty() || executablePath.empty() || !representable(executablePath) ||
        !representable(arguments)) {
        return false;
    }
    if (!createDirectories(std::filesystem::path(path).parent_path().string())) {
        return false;
    }
    const std::string entry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=VELK Agent\n"
        "Exec=" +
        execLine(executablePath, arguments) +
        "\n"
        "Terminal=false\n"
        "X-GNOME-Autostart-enabled=true\n";
    return writeFileAtomically(path, entry) == 0;
}

bool AutoStart::disable() {
    const std::string path = entryPath();
    if (path.empty()) {
        return false;
    }
    if (std::remove(path.c_str()) == 0) {
        return true;
    }
    // A missing folder or file both mean there is nothing to start.
    return errno == ENOENT;
}

}  // namespace velk::platform
