#include "infrastructure/java/JavaDiscovery.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "platform/AppPaths.h"

namespace velk::core::infra::java {

namespace {

namespace fs = std::filesystem;

std::string envOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

bool exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::path(path), ec);
}

// The "jvm" entries that are folders (links to folders too), by name.
std::vector<std::string> jvmCandidates(const std::string& folder) {
    std::vector<std::string> out;
    if (folder.empty()) {
        return out;
    }
    std::error_code ec;
    fs::directory_iterator it(fs::path(folder), ec);
    if (ec) {
        return out;
    }
    std::vector<std::string> entries;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) {
            break;
        }
        std::error_code typeError;
        if (fs::is_directory(it->path(), typeError)) {
            entries.push_back(it->path().string());
        }
    }
    std::sort(entries.begin(), entries.end());
    for (const std::string& entry : entries) {
        out.push_back(platform::joinPath(platform::joinPath(entry, "bin"), "java"));
    }
    return out;
}

bool isRegexSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

JavaSearchPlaces JavaSearchPlaces::fromEnvironment() {
    JavaSearchPlaces places;
    const std::string appData = platform::localAppDataDir();
    if (!appData.empty()) {
        places.openWebStartJava = appData + "/OpenWebStart/jvm/default/bin/java";
    }
    places.javaHome = envOrEmpty("JAVA_HOME");
    places.jvmFolder = "/usr/lib/jvm";
    places.path = envOrEmpty("PATH");
    return places;
}

std::optional<JavaInstall> findJava() {
    return findJava(JavaSearchPlaces::fromEnvironment(), JavaProbes::shared());
}

std::optional<JavaInstall> findJava(const JavaSearchPlaces& places) {
    return findJava(places, JavaProbes::shared());
}

std::optional<JavaInstall> findJava(const JavaSearchPlaces& places, JavaProbes& probes) {
    std::vector<std::string> candidates;
    if (!places.openWebStartJava.empty()) {
        candidates.push_back(places.openWebStartJava);
    }
    if (!places.javaHome.empty()) {
        candidates.push_back(platform::joinPath(platform::joinPath(places.javaHome, "bin"), "java"));
    }
    for (std::string& candidate : jvmCandidates(places.jvmFolder)) {
        candidates.push_back(std::move(candidate));
    }
    std::string_view rest = places.path;
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string_view piece = rest.substr(0, colon);
        if (!piece.empty()) {
            const std::string candidate = platform::joinPath(piece, "java");
            if (exists(candidate)) {
                candidates.push_back(candidate);
            }
        }
        if (colon == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(colon + 1);
    }
    for (const std::string& candidate : candidates) {
        if (probes.ended()) {
            break;  // the agent is shutting down
        }
        if (auto install = probeJava(candidate, probes)) {
            return install;
        }
    }
    return std::nullopt;
}

std::optional<JavaInstall> probeJava(const std::string& path) {
    return probeJava(path, JavaProbes::shared());
}

std::optional<JavaInstall> probeJava(const std::string& path, JavaProbes& probes) {
    std::error_code ec;
    if (path.empty() || !fs::is_regular_file(fs::path(path), ec)) {
        return std::nullopt;
    }
    const std::optional<std::string> report = probes.versionReport(path);
    if (!report) {
        return std::nullopt;
    }
    JavaInstall install;
    install.path = path;
    parseJavaVersion(*report, install.version, install.is64);
    if (install.version.empty()) {
        logLine(LogLevel::Warn, "Could not parse java -version for: " + escapeControlBytes(path));
        return std::nullopt;
    }
    install.version = toValidUtf8(install.version);
    return install;
}

// version\s+"([^"]+)": the first place where the word, white space, a quote,
// at least one other character and a closing quote follow each other.
bool parseJavaVersion(const std::string& output, std::string& version, bool& is64) {
    version.clear();
    const std::string_view text = output;
    constexpr std::string_view kWord = "version";
    for (std::size_t at = text.find(kWord); at != std::string_view::npos; at = text.find(kWord, at + 1)) {
        std::size_t pos = at + kWord.size();
        const std::size_t spaceStart = pos;
        while (pos < text.size() && isRegexSpace(text[pos])) {
            ++pos;
        }
        if (pos == spaceStart || pos >= text.size() || text[pos] != '"') {
            continue;
        }
        const std::size_t valueStart = pos + 1;
        const std::size_t close = text.find('"', valueStart);
        if (close == std::string_view::npos || close == valueStart) {
            continue;
        }
        version = std::string(text.substr(valueStart, close - valueStart));
        break;
    }
    is64 = text.find("64-Bit") != std::string_view::npos;
    return !version.empty();
}

int detectJavaArch(const std::string& path) {
    return detectJavaArch(path, JavaProbes::shared());
}

int detectJavaArch(const std::string& path, JavaProbes& probes) {
    if (path.empty()) {
        return 0;
    }
    const std::optional<std::string> report = probes.versionReport(path);
    if (!report) {
        return 0;
    }
    if (report->find("64-Bit") != std::string::npos) {
        return 2;
    }
    if (report->find("32-Bit") != std::string::npos) {
        return 1;
    }
    return 0;
}

std::string nativeLibJarForArch(int arch) {
    switch (arch) {
        case 1:
            return "native/vatclient-win-x86.jar";
        case 2:
            return "native/vatclient-win-x86_64.jar";
        default:
            return {};
    }
}

std::string nativeLibName() {
    return "vatclient.dll";
}

}  // namespace velk::core::infra::java
