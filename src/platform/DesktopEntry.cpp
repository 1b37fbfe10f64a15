#include "platform/DesktopEntry.h"

#include <cerrno>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "common/TextUtils.h"
#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"

namespace velk::platform {

namespace {

// Characters that the freedesktop.org Desktop Entry rules reserve in an Exec
// argument, and besides them a carriage return and parentheses, which shells
// also read specially.
constexpr std::string_view kNeedsQuoting = " \t\n\r\"'\\><~|&;$*?#`()";

// A '%' is doubled, quoted or not, so no part of a path is read as a field
// code.
std::string bareArgument(const std::string& argument) {
    std::string out;
    out.reserve(argument.size());
    for (const char c : argument) {
        if (c == '%') {
            out.push_back('%');
        }
        out.push_back(c);
    }
    return out;
}

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

}  // namespace

std::string desktopEntryExecLine(const std::string& executablePath, const std::string& arguments) {
    std::string line = executablePath.find_first_of(kNeedsQuoting) == std::string::npos
                           ? bareArgument(executablePath)
                           : quoteArgument(executablePath);
    if (!arguments.empty()) {
        line += ' ';
        line += arguments;
    }
    return escapeStringValue(line);
}

std::optional<std::string> desktopEntryProgram(const std::string& executablePath,
                                               const std::string& linkFolder) {
    if (executablePath.find('%') == std::string::npos) {
        return executablePath;
    }
    const std::filesystem::path link =
        std::filesystem::path(linkFolder) / std::filesystem::path(executablePath).filename();
    std::error_code ec;
    if (link.string().find('%') == std::string::npos &&
        std::filesystem::equivalent(link, executablePath, ec) && !ec) {
        return link.string();
    }
    return std::nullopt;
}

bool isDesktopEntryText(const std::string& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\n' && c != '\r' && c != '\t') || byte == 0x7f) {
            return false;
        }
    }
    return core::isValidUtf8(text);
}

int writeDesktopIntegrationFile(const std::string& path, const std::string& contents) {
    if (!createDirectories(std::filesystem::path(path).parent_path().string())) {
        return errno != 0 ? errno : EIO;
    }
    return writeFileAtomically(path, contents);
}

}  // namespace velk::platform
