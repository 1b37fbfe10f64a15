#include "infrastructure/java/ZezizUrBridge.h"

#include <filesystem>
#include <mutex>

#include "common/Logger.h"
#include "infrastructure/java/BridgeLimits.h"
#include "infrastructure/java/BridgeText.h"
#include "infrastructure/java/JavaDiscovery.h"
#include "infrastructure/java/ProcessRunner.h"
#include "infrastructure/java/SubmitConversation.h"
#include "infrastructure/java/ValidationErrors.h"
#include "infrastructure/signing/ISigner.h"
#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"

namespace velk::core::infra::java {

namespace {

using platform::joinPath;
using platform::shortPathName;

constexpr const char* kUnavailable = "Java или ZezizUR библиотеките не са налични.";
constexpr const char* kStartFailed = "Неуспешно стартиране на Java процеса.";
constexpr const char* kNoEncryptionCert =
    "Липсва NAP encryption cert (base64). Попълни features/vat/NraEncryptionCert kNraEncryptionCertBase64.";
constexpr const char* kNoCertificate = "Не е избран сертификат";
// A line break in the folder would let its path add lines to the protocol
// (a forged "SIGNATURE:" answer among them).
constexpr const char* kBadFolder = "Невалиден път до папката: съдържа знак за нов ред.";
constexpr const char* kMainClass = "VelkVatUploader";
constexpr const char* kMainClassFile = "VelkVatUploader.class";
constexpr const char* kRequiredJars[] = {"VATClientService.jar", "SignerService.jar", "LSManager.jar"};

bool exists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::exists(std::filesystem::path(path), ec);
}

void report(const ZezizUrBridge::Progress& progress, const std::string& text) {
    if (progress) {
        progress(text);
    }
}

bool hasLineBreak(const std::string& path) {
    return path.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

std::string commandLineText(const std::string& program, const std::vector<std::string>& arguments) {
    std::string out = program;
    for (const std::string& argument : arguments) {
        out += " " + argument;
    }
    return logText(out);
}

}  // namespace

struct ZezizUrBridge::State {
    mutable std::mutex mutex;
    std::string javaPath;
    bool is64 = false;
    int arch = 0;
    std::vector<std::string> jars;
    std::string nativeDir;
    std::string wrapperDir;
    Fetcher fetcher;

    // The Java command line and its environment for a mode.
    ProcessSpec spec(const std::vector<std::string>& modeArguments) const {
        ProcessSpec out;
        out.program = javaPath;
        std::vector<std::string> classpath{shortPathName(wrapperDir)};
        classpath.insert(classpath.end(), jars.begin(), jars.end());
        out.arguments = {"-Djava.awt.headless=true",
                         "-Dfile.encoding=UTF-8",
                         "-Djava.library.path=" + shortPathName(nativeDir),
                         "-cp",
                         buildClasspath(classpath),
                         kMainClass};
        out.arguments.insert(out.arguments.end(), modeArguments.begin(), modeArguments.end());
        out.useJobObject = true;
        out.environment = {{"LC_ALL", "C.UTF-8"}};
        return out;
    }

    // The required JARs that are present; false when one is missing.
    bool checkJars(const std::string& jarDir, bool afterDownload) {
        jars.clear();
        bool complete = true;
        for (const char* name : kRequiredJars) {
            const std::string path = joinPath(jarDir, name);
            if (exists(path)) {
                jars.push_back(shortPathName(path));
                continue;
            }
            complete = false;
            logLine(LogLevel::Warn, afterDownload ? "Still missing after download: " + path
                                                  : std::string("Missing JAR: ") + name);
        }
        return complete;
    }
};

ZezizUrBridge::ZezizUrBridge() : state_(std::make_unique<State>()) {}

ZezizUrBridge::~ZezizUrBridge() = default;

void ZezizUrBridge::setFetcher(Fetcher fetcher) {
    std::lock_guard lock(state_->mutex);
    state_->fetcher = std::move(fetcher);
}

bool ZezizUrBridge::ensureInstalled(const Progress& progress) {
    std::lock_guard lock(state_->mutex);
    return ensureInstalledLocked(progress);
}

std::string ZezizUrBridge::javaPath() const {
    std::lock_guard lock(state_->mutex);
    return state_->javaPath;
}

std::vector<std::string> ZezizUrBridge::jars() const {
    std::lock_guard lock(state_->mutex);
    return state_->jars;
}

bool ZezizUrBridge::ensureInstalledLocked(const Progress& progress) {
    State& s = *state_;
    report(progress, "Търсене на Java…");
    const std::optional<JavaInstall> java = findJava();
    if (!java) {
        logLine(LogLevel::Error, "Java not found on system");
        return false;
    }
    s.javaPath = java->path;
    s.is64 = java->is64;
    s.arch = detectJavaArch(java->path);
    logLine(LogLevel::Info, "Java: " + logText(java->path) + " version=" + logText(java->version) +
                                (java->is64 ? " (64-Bit)" : " (32-Bit)"));

    const std::string jarDir = platform::zezizUrJarDir();
    if (jarDir.empty()) {
        logLine(LogLevel::Error, "ZezizUR: no per-user data folder");
        return false;
    }
    platform::createDirectories(jarDir);
    platform::createDirectories(platform::zezizUrNativeDir());
    platform::createDirectories(platform::zezizUrWrapperDir());
    s.nativeDir = platform::zezizUrNativeDir();
    s.wrapperDir = platform::zezizUrWrapperDir();

    // Replaced whole, so a Java run elsewhere never reads half a class.
    const std::string classSource = joinPath(platform::executableDir(), kMainClassFile);
    std::string classBytes;
    if (exists(classSource) && platform::readWholeFile(classSource, classBytes) == 0) {
        platform::writeFileAtomically(joinPath(s.wrapperDir, kMainClassFile), classBytes);
    }

    const bool jarsComplete = s.checkJars(jarDir, false);
    const std::string nativeJar = nativeLibJarForArch(s.arch);
    const std::string nativeName = nativeLibName();
    if (nativeJar.empty()) {
        logLine(LogLevel::Warn,
                "ZezizUR: no native lib JAR mapping for current arch — VAT validation will fail with "
                "UnsatisfiedLinkError");
    }
    const std::string nativePath = joinPath(s.nativeDir, nativeName);
    const bool nativePresent = exists(nativePath);
    if (nativePresent && jarsComplete) {
        report(progress, "Готово.");
        return true;
    }
    if (!nativePresent) {
        logLine(LogLevel::Warn, "Missing native lib: " + nativePath);
    }

    report(progress, "Сваляне на ZezizUR библиотеките от НАП…");
    if (!s.fetcher) {
        logLine(LogLevel::Warn,
                "ZezizUR: no authenticated fetcher set — JNLP endpoints require portal login");
    }
    if (JnlpDownloader::downloadJars(jarDir, s.fetcher).empty()) {
        logLine(LogLevel::Error, "ZezizUR: JnlpDownloader returned 0 JARs");
        return false;
    }
    s.checkJars(jarDir, true);
    if (!exists(nativePath)) {
        report(progress, "Извличане на native библиотека…");
        if (JnlpDownloader::extractNativeLib(nativeJar, nativeName, s.nativeDir, s.fetcher).empty()) {
            logLine(LogLevel::Warn, "ZezizUR: native lib download/extract failed");
        }
    }
    if (exists(nativePath)) {
        report(progress, "Готово.");
        return true;
    }
    logLine(LogLevel::Error, "ZezizUR: native lib still missing after download");
    return false;
}

std::vector<std::string> ZezizUrBridge::validate(const std::string& declarationDir,
                                                 const Progress& progress) {
    std::lock_guard lock(state_->mutex);
    State& s = *state_;
    if (s.javaPath.empty() && !ensureInstalledLocked(progress)) {
        return {kUnavailable};
    }
    if (hasLineBreak(declarationDir)) {
        return {kBadFolder};
    }
    const ProcessSpec spec = s.spec({"validate"});
    logLine(LogLevel::Info, "ZezizUR validate: launching: " + commandLineText(spec.program, spec.arguments));
    report(progress, "Стартиране на валидация…");
    ProcessRunner runner;
    if (!runner.start(spec)) {
        return {kStartFailed};
    }
    const std::string dirLine = "DIR:" + shortPathName(declarationDir);
    logLine(LogLevel::Info, "ZezizUR validate: stdin → " + logText(dirLine));
    runner.writeLine(dirLine);

    std::vector<std::string> outputLines;
    std::size_t outputCount = 0;
    std::size_t outputBytes = 0;
    std::string errorText;
    std::size_t errorBytes = 0;
    const int exitCode = runner.readLinesUntilExit(
        [&](const std::string& line) {
            ++outputCount;
            outputBytes += line.size();
            if (outputBytes <= kMaxCollectedBytes) {
                outputLines.push_back(line);
            }
        },
        [&](const std::string& line) {
            errorBytes += line.size() + 1;
            if (errorText.size() < kMaxCollectedBytes) {
                errorText += line;
                errorText += '\n';
            }
        });
    runner.terminate();

    logLine(LogLevel::Info, "ZezizUR validate: exit=" + std::to_string(exitCode) + " stdout_lines=" +
                                std::to_string(outputCount) + " stderr_bytes=" + std::to_string(errorBytes));
    for (const std::string& line : outputLines) {
        logLine(LogLevel::Info, "  [stdout] " + logText(line));
    }
    std::string_view rest = errorText;
    while (!rest.empty()) {
        const std::size_t lineFeed = rest.find('\n');
        if (lineFeed > 0) {
            logLine(LogLevel::Info, "  [stderr] " + logText(rest.substr(0, lineFeed)));
        }
        if (lineFeed == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(lineFeed + 1);
    }

    if (exitCode == 0) {
        report(progress, "Валидацията премина успешно.");
        return {};
    }
    std::vector<std::string> errors = collectValidationErrors(outputLines, errorText, exitCode);
    report(progress, "Намерени грешки: " + std::to_string(errors.size()));
    return errors;
}

ZezizUrSubmitResult ZezizUrBridge::submit(const std::string& declarationDir, signing::ISigner& signer,
                                          const std::string& certificateId, const std::string& signerEmail,
                                          const std::string& encryptionCertBase64, const std::string& iban,
                                          const Progress& progress) {
    std::lock_guard lock(state_->mutex);
    State& s = *state_;
    ZezizUrSubmitResult result;
    if (s.javaPath.empty() && !ensureInstalledLocked(progress)) {
        result.message = kUnavailable;
        return result;
    }
    if (encryptionCertBase64.empty()) {
        result.message = kNoEncryptionCert;
        return result;
    }
    // Never another certificate than the sender's: a tax return signed with
    // whichever key the token lists first is not the sender's return.
    if (certificateId.empty()) {
        logLine(LogLevel::Warn, "ZezizUR submit: no signing certificate chosen; not filing");
        result.message = kNoCertificate;
        return result;
    }
    if (hasLineBreak(declarationDir)) {
        result.message = kBadFolder;
        return result;
    }
    std::vector<std::string> modeArguments{"pipe", signerEmail, encryptionCertBase64};
    if (!iban.empty()) {
        modeArguments.push_back(iban);
    }
    const ProcessSpec spec = s.spec(modeArguments);
    logLine(LogLevel::Info, "ZezizUR submit: launching: " + commandLineText(spec.program, spec.arguments));
    ProcessRunner runner;
    if (!runner.start(spec)) {
        result.message = kStartFailed;
        return result;
    }
    const std::string dirLine = "DIR:" + shortPathName(declarationDir);
    logLine(LogLevel::Info, "ZezizUR submit: stdin → " + logText(dirLine));
    runner.writeLine(dirLine);
    logLine(LogLevel::Info, "ZezizUR submit: signing cert id = " + certificateId);

    SubmitConversation conversation(runner, signer, certificateId, progress, spec.maxLineBytes);
    const int exitCode =
        runner.readLinesUntilExit([&](const std::string& line) { conversation.handleSubmitLine(line); },
                                  [&](const std::string& line) { conversation.handleProgressLine(line); });
    runner.terminate();
    return conversation.finish(exitCode);
}

}  // namespace velk::core::infra::java
