#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "infrastructure/java/JavaProbes.h"
#include "infrastructure/java/JnlpDownloader.h"

namespace velk::signing {
class ISigner;
}  // namespace velk::signing

namespace velk::core::infra::java {

// What a filing through the Java client came to.
struct ZezizUrSubmitResult {
    bool ok = false;
    std::string message;  // the error to show; empty when ok
    // What the child printed: its output lines and its error lines other
    // than progress, each with a line feed.
    std::string output;
    std::vector<std::string> nativeErrors;  // the agency library's errors
};

// How the bridge bounds its runs.
struct ZezizUrBridgeOptions {
    // How long the Java child of a validation may run; past it the child's
    // process group is ended. A download of the client before the run does
    // not count. A filing has no limit: ending it midway would leave unknown
    // what the agency received.
    std::chrono::milliseconds validationTimeLimit = std::chrono::minutes(10);
    // Runs on a caller's thread that finds another Java run in progress and
    // waits for it to end (the engine's VAT operations wait; the local API's
    // validation does not).
    std::function<void()> onWaitForTurn;
    // The "-version" probes of the installation's Java search; null: the
    // agent's shared ones, which shut-down ends apart from the bridge.
    JavaProbes* javaProbes = nullptr;
};

// The agent's handle on the agency's Java VAT client. Start-up creates one and
// hands non-owning pointers to the engine (for the portal session) and to the
// local API.
//
// It installs the client on demand (finds Java, puts the agent's main class
// VelkVatUploader and the client's JARs and native library into the per-user
// ZezizUR folder, downloading what is missing) and runs it as a child process
// to validate a VAT folder or to file it, answering the child's signing
// requests over its pipes. One Java run at a time: an installation, a
// validation or a filing holds the bridge for its whole length, and requests
// that reach the bridge at once take turns. At shut-down the running child is
// ended and every waiting caller answered at once.
class ZezizUrBridge {
public:
    // Progress texts of a run; may be empty. Called from the calling thread
    // and, during a filing, from the thread that reads the child's error
    // stream, never from both at once.
    using Progress = std::function<void(const std::string&)>;
    using Fetcher = JnlpDownloader::Fetcher;
    // What a validation does when another Java run holds the bridge.
    enum class WhenBusy { Wait, Refuse };

    ZezizUrBridge();
    explicit ZezizUrBridge(ZezizUrBridgeOptions options);
    virtual ~ZezizUrBridge();
    ZezizUrBridge(const ZezizUrBridge&) = delete;
    ZezizUrBridge& operator=(const ZezizUrBridge&) = delete;

    // The download through the logged-in portal session; kept until replaced.
    void setFetcher(Fetcher fetcher);

    // True when Java and the native library are in place; downloads what is
    // missing. False after shutDown.
    bool ensureInstalled(const Progress& progress);

    // Validates the VAT declaration folder with the agency's Java client on
    // the calling thread and returns its error texts, empty when the folder
    // passed. A validation that cannot run (Java missing, another run in
    // progress with WhenBusy::Refuse, the time limit reached, the agent
    // shutting down) returns the one text that says why. Installs first when
    // no installation has found Java yet. Virtual so the local API can be
    // tested with a validator that answers from a script.
    virtual std::vector<std::string> validate(const std::string& declarationDir, const Progress& progress,
                                              WhenBusy whenBusy = WhenBusy::Wait);

    // Files the folder through the Java client, which asks for signatures
    // made with the certificate (never with another one). Waits for a run in
    // progress; has no time limit, but shutDown ends it.
    ZezizUrSubmitResult submit(const std::string& declarationDir, signing::ISigner& signer,
                               const std::string& certificateId, const std::string& signerEmail,
                               const std::string& encryptionCertBase64, const std::string& iban,
                               const Progress& progress);

    // What the last installation found: the java program and the client's
    // JARs present, in their fixed order.
    std::string javaPath() const;
    std::vector<std::string> jars() const;

    // At the agent's shut-down, before the local API's workers are joined:
    // ends the running Java child's process group and answers every caller
    // that waits, and every later one, at once. From any thread. A Java
    // search in progress ends with its probes (JavaProbes::endAll).
    void shutDown();

private:
    struct State;

    bool ensureInstalledLocked(const Progress& progress);

    std::unique_ptr<State> state_;
};

}  // namespace velk::core::infra::java
