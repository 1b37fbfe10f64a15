#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

#include "operations/OperationRecords.h"

namespace velk::test {

// Operations registered only in the test binaries, each showing a different
// side of a run. Their results use the generic envelope: everything of note
// is in "metadata".
//   zz_session_echo  inquiry: the session's identity, PIN and signer, and the
//                    parameters as flattened; no token required
//   zz_token_echo    the same, requiring a submission token
//   zz_gate          inquiry: waits at the gate (below) with the session
//   zz_throws        inquiry whose run throws "boom"
//   zz_bad_text      inquiry whose result holds text that is not UTF-8
//   zz_filing        submission requiring a file path and a token; fails
//                    when the parameter "fail" is "true"
//   zz_filing_any    submission without a required file path
//   zz_broken_demo   inquiry whose fixture throws "no demo"
inline constexpr const char* kEchoOp = "zz_session_echo";
inline constexpr const char* kTokenEchoOp = "zz_token_echo";
inline constexpr const char* kGateOp = "zz_gate";
inline constexpr const char* kThrowsOp = "zz_throws";
inline constexpr const char* kBadTextOp = "zz_bad_text";
inline constexpr const char* kFilingOp = "zz_filing";
inline constexpr const char* kFilingAnyPathOp = "zz_filing_any";
inline constexpr const char* kBrokenDemoOp = "zz_broken_demo";

// What the test operations saw, for the tests to read.
struct OperationLog {
    std::mutex mutex;
    std::optional<core::operations::ParamMap> lastParams;
    std::optional<std::string> lastFilePath;
    int runs = 0;

    void reset();
};
OperationLog& operationLog();

// Holds zz_gate runs until opened, and records how many were inside at once
// and whether the session's identity changed under a run.
class Gate {
public:
    void reset();
    // True once `count` runs are waiting inside; false when they have not
    // arrived within a generous deadline.
    [[nodiscard]] bool waitForArrivals(int count);
    void open();

    int maxInside();
    int identityChangesDuringRun();
    // Runs that went on because the deadline passed, not because the gate
    // was opened.
    int passedUnopened();

    // Called by the operation.
    void pass(const std::string& identityBefore, const std::function<std::string()>& identityNow);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    int waiting_ = 0;
    int inside_ = 0;
    int maxInside_ = 0;
    int identityChanges_ = 0;
    int passedUnopened_ = 0;
};
Gate& gate();

}  // namespace velk::test
