#include "infrastructure/java/SubmitConversation.h"

#include <algorithm>
#include <exception>
#include <string_view>

#include "common/Logger.h"
#include "infrastructure/java/BridgeLimits.h"
#include "infrastructure/java/BridgeText.h"
#include "infrastructure/java/LineSplitter.h"
#include "infrastructure/java/ProcessRunner.h"
#include "infrastructure/signing/ISigner.h"

namespace velk::core::infra::java {

namespace {

constexpr std::string_view kProgressMarker = "Прогрес: ";

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string_view trimRightOfPayload(std::string_view text) {
    while (!text.empty() &&
           (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

void appendBounded(std::string& text, const std::string& line) {
    if (text.size() < kMaxCollectedBytes) {
        text += line;
        text += '\n';
    }
}

}  // namespace

SubmitConversation::SubmitConversation(ProcessRunner& runner, signing::ISigner& signer,
                                       std::string certificateId, const Progress& progress,
                                       std::size_t maxLineBytes)
    : runner_(runner),
      signer_(signer),
      certificateId_(std::move(certificateId)),
      progress_(progress),
      maxLineBytes_(maxLineBytes) {}

void SubmitConversation::report(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (progress_) {
        progress_(text);
    }
}

void SubmitConversation::appendOutputLocked(const std::string& line) {
    appendBounded(output_, toValidUtf8(line));
}

void SubmitConversation::handleSubmitLine(const std::string& line) {
    ++stdoutLines_;
    logLine(LogLevel::Info, "  [stdout] " + logText(line));
    {
        std::lock_guard lock(mutex_);
        appendOutputLocked(line);
    }
    if (startsWith(line, "SIGN:")) {
        answerSignRequest(line);
    } else if (startsWith(line, "NATIVE_ERROR:")) {
        const std::string text = resultText(trim(std::string_view(line).substr(13)));
        if (nativeErrors_.size() < kMaxResultTexts) {
            nativeErrors_.push_back(text);
        }
        report("Грешка от НАП: " + text);
    } else if (startsWith(line, "SUCCESS")) {
        report("Успешно подадено.");
    } else if (startsWith(line, "ERROR:")) {
        // The last text counts; an ERROR line without one still fails the
        // run and leaves the earlier text standing.
        failed_ = true;
        std::string text = resultText(trim(std::string_view(line).substr(6)));
        if (!text.empty()) {
            message_ = std::move(text);
        }
    }
}

// Exactly one answer per request, written before the next line is read: the
// child waits for it.
void SubmitConversation::answerSignRequest(const std::string& line) {
    report("Подписване с електронен подпис…");
    std::vector<std::uint8_t> signature;
    if (LineSplitter::mayHaveBeenCut(line.size(), maxLineBytes_)) {
        // The runner may have cut the line: signing what is left would sign
        // other bytes than the client asked for.
        logLine(LogLevel::Error, "ZezizUR submit: signing request too long (" + std::to_string(line.size()) +
                                     " bytes); not signed");
    } else {
        const std::vector<std::uint8_t> data =
            bridgeBase64Decode(trimRightOfPayload(std::string_view(line).substr(5)));
        try {
            signature = signer_.signData(data, certificateId_, "");
        } catch (const std::exception& e) {
            logLine(LogLevel::Error, "ZezizUR signer.signData: " + logText(e.what()));
            signature.clear();
        } catch (...) {
            logLine(LogLevel::Error, "ZezizUR signer.signData: unknown error");
            signature.clear();
        }
    }
    runner_.writeLine("SIGNATURE:" + bridgeBase64Encode(signature));
}

void SubmitConversation::handleProgressLine(const std::string& line) {
    std::lock_guard lock(mutex_);
    errorBytes_ += line.size() + 1;
    appendBounded(errorText_, line);
    const std::size_t marker = line.find(kProgressMarker);
    if (marker != std::string::npos) {
        if (progress_) {
            progress_(resultText(std::string_view(line).substr(marker + kProgressMarker.size())));
        }
    } else {
        appendOutputLocked(line);
    }
}

ZezizUrSubmitResult SubmitConversation::finish(int exitCode) {
    std::lock_guard lock(mutex_);
    ZezizUrSubmitResult result;
    result.output = std::move(output_);
    logLine(LogLevel::Info, "ZezizUR submit: exit=" + std::to_string(exitCode) +
                                " stdout_lines=" + std::to_string(stdoutLines_) +
                                " stderr_bytes=" + std::to_string(errorBytes_));
    std::string_view rest = errorText_;
    while (!rest.empty()) {
        const std::size_t lineFeed = rest.find('\n');
        const std::string_view line = rest.substr(0, lineFeed);
        if (!line.empty()) {
            logLine(LogLevel::Info, "  [stderr] " + logText(line));
        }
        if (lineFeed == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(lineFeed + 1);
    }
    result.nativeErrors = std::move(nativeErrors_);
    result.message = std::move(message_);
    result.ok = exitCode == 0 && !failed_ && result.nativeErrors.empty();
    if (!result.ok && result.message.empty()) {
        const auto text = std::find_if(result.nativeErrors.begin(), result.nativeErrors.end(),
                                       [](const std::string& error) { return !error.empty(); });
        result.message =
            text != result.nativeErrors.end() ? *text : "Процесът завърши с код " + std::to_string(exitCode);
    }
    return result;
}

}  // namespace velk::core::infra::java
