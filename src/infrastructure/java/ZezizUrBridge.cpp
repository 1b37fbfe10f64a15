#include "infrastructure/java/ZezizUrBridge.h"

#include <filesystem>
#include <mutex>
#include <optional>

#include "common/Logger.h"
#include "infrastructure/java/BridgeLimits.h"
#include "infrastructure/java/BridgeText.h"
#include "infrastructure/java/JavaDiscovery.h"
#include "infrastructure/java/JavaRunGate.h"
#include "infrastructure/java/ProcessRunner.h"
#include "infrastructure/java/RunDeadline.h"
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
constexpr const char* kBusy =
    "В момента се изпълнява друга операция с Java (валидация или подаване на ДДС). Опитайте отново, "
    "когато тя приключи.";
constexpr const char* kClosing = "Агентът се затваря; операцията с Java не беше стартирана.";
constexpr const char* kValidationInterrupted = "Валидацията беше прекъсната, защото агентът се затваря.";
constexpr const char* kFilingInterrupted =
    "Подаването беше прекъснато, защото агентът се затваря. Проверете в портала на НАП кои документи "
    "са подадени, преди да подадете отново.";
constexpr const char* kValidationTimedOut =
    "Валидацията беше прекратена: Java не завърши в допустимото време. Подробности има във "
    "VezoRodarC.log.";
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

// Java splits its class path and library path at ':', so no path on them may
// hold one; the message names the folder.
std::optional<std::string> pathListProblem(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        if (path.find(':') == std::string::npos) {
            continue;
        }
        const std::string dataDir = platform::dataDir();
        const std::string folder = dataDir.find(':') != std::string::npos
                                       ? dataDir
                                       : std::filesystem::path(path).parent_path().string();
        logLine(LogLevel::Error, "ZezizUR: the path " + logText(path) +
                                     " holds ':', which splits Java's class path; not starting Java");
        return "Java не може да работи от папка, чийто път съдържа знака ':': " + resultText(folder) +
               ". Преместете папката с данни на път без ':'.";
    }
    return std::nullopt;
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
    explicit State(ZezizUrBridgeOptions givenOptions) : options(std::move(givenOptions)) {}

    const ZezizUrBridgeOptions options;
    JavaRunGate gate;
    // Guards the fields below against readers outside a run (javaPath, jars,
    // setFetcher); within a run only the caller that holds the gate writes
    // them.
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
        std::vector<std::string> present;
        bool complete = true;
        for (const char* name : kRequiredJars) {
            const std::string path = joinPath(jarDir, name);
            if (exists(path)) {
                present.push_back(shortPathName(path));
                continue;
            }
            complete = false;
            logLine(LogLevel::Warn, afterDownload ? "Still missing after download: " + logText(path)
                                                  : std::string("Missing JAR: ") + name);
        }
        std::lock_guard lock(mutex);
        jars = std::move(present);
        return complete;
    }

    // The folders and files Java is given as path lists.
    std::vector<std::string> pathListEntries() const {
        std::vector<std::string> out{shortPathName(nativeDir), shortPathName(wrapperDir)};
        out.insert(out.end(), jars.begin(), jars.end());
        return out;
    }
};

namespace {

// The caller's turn at the bridge, left on every way out.
class Turn {
public:
    Turn(JavaRunGate& gate, bool waitIfBusy, const std::function<void()>& onWait)
        : gate_(gate), entry_(gate.enter(waitIfBusy, onWait)) {}
    ~Turn() {
        if (entry_ == JavaRunGate::Entry::Entered) {
            gate_.leave();
        }
    }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

    JavaRunGate::Entry entry() const { return entry_; }

private:
    JavaRunGate& gate_;
    JavaRunGate::Entry entry_;
};

// The started child, known to the gate until its run is over, so that
// shut-down can end it.
class AttachedChild {
public:
    AttachedChild(JavaRunGate& gate, ProcessRunner& runner) : gate_(gate), attached_(gate.attach(runner)) {}
    ~AttachedChild() { detach(); }
    AttachedChild(const AttachedChild&) = delete;
    AttachedChild& operator=(const AttachedChild&) = delete;

    bool attached() const { return attached_; }
    // True when shut-down ended the child.
    bool detach() {
        if (attached_) {
            attached_ = false;
            endedByShutDown_ = gate_.detach();
        }
        return endedByShutDown_;
    }

private:
    JavaRunGate& gate_;
    bool attached_;
    bool endedByShutDown_ = false;
};

void logWaiting(const std::function<void()>& hook) {
    logLine(LogLevel::Info, "ZezizUR: another Java run is in progress; waiting for it to end");
    if (hook) {
        hook();
    }
}

}  // namespace

ZezizUrBridge::ZezizUrBridge() : ZezizUrBridge(ZezizUrBridgeOptions{}) {}

ZezizUrBridge::ZezizUrBridge(ZezizUrBridgeOptions options)
    : state_(std::make_unique<State>(std::move(options))) {}

ZezizUrBridge::~ZezizUrBridge() = default;

void ZezizUrBridge::setFetcher(Fetcher fetcher) {
    std::lock_guard lock(state_->mutex);
    state_->fetcher = std::move(fetcher);
}

bool ZezizUrBridge::ensureInstalled(const Progress& progress) {
    const Turn turn(state_->gate, true, [this] { logWaiting(state_->options.onWaitForTurn); });
    return turn.entry() == JavaRunGate::Entry::Entered && ensureInstalledLocked(progress);
}

void ZezizUrBridge::shutDown() {
    state_->gate.close();
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
    JavaProbes& probes = s.options.javaProbes != nullptr ? *s.options.javaProbes : JavaProbes::shared();
    const std::optional<JavaInstall> java = findJava(JavaSearchPlaces::fromEnvironment(), probes);
    if (!java) {
        if (probes.ended()) {
            logLine(LogLevel::Warn, "ZezizUR: the agent is shutting down; the search for Java was ended");
        } else {
            logLine(LogLevel::Error, "Java not found on system");
        }
        return false;
    }
    const int arch = detectJavaArch(java->path, probes);
    {
        std::lock_guard lock(s.mutex);
        s.javaPath = java->path;
        s.is64 = java->is64;
        s.arch = arch;
    }
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
    {
        std::lock_guard lock(s.mutex);
        s.nativeDir = platform::zezizUrNativeDir();
        s.wrapperDir = platform::zezizUrWrapperDir();
    }

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
        logLine(LogLevel::Warn, "Missing native lib: " + logText(nativePath));
    }

    report(progress, "Сваляне на ZezizUR библиотеките от НАП…");
    Fetcher fetcher;
    {
        std::lock_guard lock(s.mutex);
        fetcher = s.fetcher;
    }
    if (!fetcher) {
        logLine(LogLevel::Warn,
                "ZezizUR: no authenticated fetcher set — JNLP endpoints require portal login");
    }
    if (JnlpDownloader::downloadJars(jarDir, fetcher).empty()) {
        logLine(LogLevel::Error, "ZezizUR: JnlpDownloader returned 0 JARs");
        return false;
    }
    s.checkJars(jarDir, true);
    if (!exists(nativePath)) {
        report(progress, "Извличане на native библиотека…");
        if (JnlpDownloader::extractNativeLib(nativeJar, nativeName, s.nativeDir, fetcher).empty()) {
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

std::vector<std::string> ZezizUrBridge::validate(const std::string& declarationDir, const Progress& progress,
                                                 WhenBusy whenBusy) {
    State& s = *state_;
    const Turn turn(s.gate, whenBusy == WhenBusy::Wait,
                    [this] { logWaiting(state_->options.onWaitForTurn); });
    if (turn.entry() == JavaRunGate::Entry::Busy) {
        logLine(LogLevel::Info, "ZezizUR validate: another Java run is in progress; refused");
        return {kBusy};
    }
    if (turn.entry() == JavaRunGate::Entry::Closed) {
        return {kClosing};
    }
    if (s.javaPath.empty() && !ensureInstalledLocked(progress)) {
        return {s.gate.isClosed() ? kClosing : kUnavailable};
    }
    if (hasLineBreak(declarationDir)) {
        return {kBadFolder};
    }
    if (const auto problem = pathListProblem(s.pathListEntries())) {
        return {*problem};
    }
    const ProcessSpec spec = s.spec({"validate"});
    logLine(LogLevel::Info, "ZezizUR validate: launching: " + commandLineText(spec.program, spec.arguments));
    report(progress, "Стартиране на валидация…");
    ProcessRunner runner;
    if (!runner.start(spec)) {
        return {kStartFailed};
    }
    AttachedChild child(s.gate, runner);
    if (!child.attached()) {
        return {kClosing};  // the runner's release ends the child
    }
    const std::string dirLine = "DIR:" + shortPathName(declarationDir);
    logLine(LogLevel::Info, "ZezizUR validate: stdin → " + logText(dirLine));
    runner.writeLine(dirLine);

    std::vector<std::string> outputLines;
    std::size_t outputCount = 0;
    std::size_t outputBytes = 0;
    std::string errorText;
    std::size_t errorBytes = 0;
    int exitCode = 0;
    bool timedOut = false;
    {
        // Counted from the child's start: a download before it is not the
        // child's time.
        const RunDeadline deadline(s.options.validationTimeLimit, [&runner] { runner.kill(); });
        exitCode = runner.readLinesUntilExit(
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
        timedOut = deadline.expired();
    }
    const bool endedByShutDown = child.detach();
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

    // A child that ended by itself just before it was killed keeps its verdict.
    if (endedByShutDown && exitCode == ProcessRunner::kKilledExitCode) {
        logLine(LogLevel::Warn, "ZezizUR validate: the agent is shutting down; the Java child was ended");
        return {kValidationInterrupted};
    }
    if (timedOut && exitCode == ProcessRunner::kKilledExitCode) {
        logLine(LogLevel::Warn, "ZezizUR validate: no end after " +
                                    std::to_string(s.options.validationTimeLimit.count()) +
                                    " ms; the Java child's process group was ended");
        return {kValidationTimedOut};
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
    State& s = *state_;
    ZezizUrSubmitResult result;
    const Turn turn(s.gate, true, [this] { logWaiting(state_->options.onWaitForTurn); });
    if (turn.entry() != JavaRunGate::Entry::Entered) {
        result.message = kClosing;
        return result;
    }
    if (s.javaPath.empty() && !ensureInstalledLocked(progress)) {
        result.message = s.gate.isClosed() ? kClosing : kUnavailable;
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
    if (const auto problem = pathListProblem(s.pathListEntries())) {
        result.message = *problem;
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
    // Ended at shut-down only: a filing has no time limit.
    AttachedChild child(s.gate, runner);
    if (!child.attached()) {
        result.message = kClosing;  // nothing was sent to the child yet
        return result;
    }
    const std::string dirLine = "DIR:" + shortPathName(declarationDir);
    logLine(LogLevel::Info, "ZezizUR submit: stdin → " + logText(dirLine));
    runner.writeLine(dirLine);
    logLine(LogLevel::Info, "ZezizUR submit: signing cert id = " + logText(certificateId));

    SubmitConversation conversation(runner, signer, certificateId, progress, spec.maxLineBytes);
    const int exitCode =
        runner.readLinesUntilExit([&](const std::string& line) { conversation.handleSubmitLine(line); },
                                  [&](const std::string& line) { conversation.handleProgressLine(line); });
    const bool endedByShutDown = child.detach();
    runner.terminate();
    ZezizUrSubmitResult filed = conversation.finish(exitCode);
    if (endedByShutDown && exitCode == ProcessRunner::kKilledExitCode) {
        // The agency may have received the filing before the child was ended.
        logLine(LogLevel::Warn,
                "ZezizUR submit: the agent is shutting down; the Java child was ended during the filing, "
                "whose outcome at the agency is unknown");
        filed.ok = false;
        filed.message = kFilingInterrupted;
    }
    return filed;
}

}  // namespace velk::core::infra::java
