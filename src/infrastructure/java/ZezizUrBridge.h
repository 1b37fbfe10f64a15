#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

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

// The agent's handle on the agency's Java VAT client. Start-up creates one and
// hands non-owning pointers to the engine (for the portal session) and to the
// local API.
//
// It installs the client on demand (finds Java, puts the agent's main class
// VelkVatUploader and the client's JARs and native library into the per-user
// ZezizUR folder, downloading what is missing) and runs it as a child process
// to validate a VAT folder or to file it, answering the child's signing
// requests over its pipes. One mutex is held across each installation,
// validation and filing, so requests that reach the bridge at once take turns.
class ZezizUrBridge {
public:
    // Progress texts of a run; may be empty. Called from the calling thread
    // and, during a filing, from the thread that reads the child's error
    // stream, never from both at once.
    using Progress = std::function<void(const std::string&)>;
    using Fetcher = JnlpDownloader::Fetcher;

    ZezizUrBridge();
    virtual ~ZezizUrBridge();
    ZezizUrBridge(const ZezizUrBridge&) = delete;
    ZezizUrBridge& operator=(const ZezizUrBridge&) = delete;

    // The download through the logged-in portal session; kept until replaced.
    void setFetcher(Fetcher fetcher);

    // True when Java and the native library are in place; downloads what is
    // missing.
    bool ensureInstalled(const Progress& progress);

    // Validates the VAT declaration folder with the agency's Java client on
    // the calling thread and returns its error texts, empty when the folder
    // passed. A validation that cannot run returns the one text that says why.
    // Installs first when no installation has found Java yet. Virtual so the
    // local API can be tested with a validator that answers from a script.
    virtual std::vector<std::string> validate(const std::string& declarationDir, const Progress& progress);

    // Files the folder through the Java client, which asks for signatures
    // made with the certificate (never with another one).
    ZezizUrSubmitResult submit(const std::string& declarationDir, signing::ISigner& signer,
                               const std::string& certificateId, const std::string& signerEmail,
                               const std::string& encryptionCertBase64, const std::string& iban,
                               const Progress& progress);

    // What the last installation found: the java program and the client's
    // JARs present, in their fixed order.
    std::string javaPath() const;
    std::vector<std::string> jars() const;

private:
    struct State;

    bool ensureInstalledLocked(const Progress& progress);

    std::unique_ptr<State> state_;
};

}  // namespace velk::core::infra::java
