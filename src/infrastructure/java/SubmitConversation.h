#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

#include "infrastructure/java/ZezizUrBridge.h"

namespace velk::signing {
class ISigner;
}  // namespace velk::signing

namespace velk::core::infra::java {

class ProcessRunner;

// The agent's side of one filing run of the Java client (pipe mode): reads
// the child's output and error lines, answers each "SIGN:" request with a
// signature of the chosen certificate before the next line is read, and
// gathers the result. The output handler runs on the caller's thread, the
// error handler on the runner's reading thread; the texts they share and the
// progress calls are serialised here.
class SubmitConversation {
public:
    using Progress = ZezizUrBridge::Progress;

    SubmitConversation(ProcessRunner& runner, signing::ISigner& signer, std::string certificateId,
                       const Progress& progress, std::size_t maxLineBytes);

    void handleSubmitLine(const std::string& line);
    void handleProgressLine(const std::string& line);

    // The result for the child's exit code; logs what the child printed.
    ZezizUrSubmitResult finish(int exitCode);

private:
    void report(const std::string& text);
    void appendOutputLocked(const std::string& line);
    void answerSignRequest(const std::string& line);

    ProcessRunner& runner_;
    signing::ISigner& signer_;
    std::string certificateId_;
    const Progress& progress_;
    std::size_t maxLineBytes_;

    std::mutex mutex_;  // output_, errorText_, errorBytes_ and the progress calls
    std::string output_;
    std::string errorText_;
    std::size_t errorBytes_ = 0;
    int stdoutLines_ = 0;  // caller's thread only, as are message_ and nativeErrors_
    std::string message_;
    bool failed_ = false;  // an ERROR line came
    std::vector<std::string> nativeErrors_;
};

}  // namespace velk::core::infra::java
