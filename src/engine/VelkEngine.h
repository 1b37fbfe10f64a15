#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/ISettingsProvider.h"
#include "operations/OperationRecords.h"

namespace velk::signing {
class ISigner;
}  // namespace velk::signing

namespace velk::core::infra::portal {
class NapSession;
}  // namespace velk::core::infra::portal

namespace velk::core::infra::java {
class ZezizUrBridge;
}  // namespace velk::core::infra::java

namespace velk::core {

// Runs an operation for a sender: makes the sender the active one, creates
// the operation from the registry, runs it with the one portal session and
// returns its result projected to compact JSON. Owns the settings and the
// session, and keeps the session configured for the active sender.
//
// Real runs are serialised: one run at a time uses the session, from the
// sender switch to the end of the projection. Settings changes, PINs, the
// signer and the bridge that arrive meanwhile from other threads are only
// noted, and reach the session at the start of the next run (at once inside a
// run's own sender switch), so nothing changes the session under a running
// operation and no caller waits for a run to end. Test runs, the catalogue
// and settings() never wait.
class VelkEngine {
public:
    // The portal session's pauses (after a taxpayer switch, between retries
    // and uploads) go through sessionSleeper; empty: the session sleeps for real.
    using SessionSleeper = std::function<void(std::chrono::milliseconds)>;

    explicit VelkEngine(std::unique_ptr<ISettingsProvider> settings, SessionSleeper sessionSleeper = {});
    // Destroys the session, then the settings.
    ~VelkEngine();
    VelkEngine(const VelkEngine&) = delete;
    VelkEngine& operator=(const VelkEngine&) = delete;

    // Not owned; must outlive the engine.
    void setSigner(signing::ISigner* signer);
    void setZezizUrBridge(infra::java::ZezizUrBridge* bridge);

    // Creates the session for the active sender and starts following the
    // settings. Does nothing when already initialised.
    void initialise();
    // The PIN of one certificate's smart card or token. The session presents
    // it only while that certificate is the active one, never for another;
    // lost when given before initialise.
    void setPin(const std::string& certificateId, const std::string& pin);

    ISettingsProvider& settings();

    // Sorted by typeId. These and executeTest work without initialise.
    std::vector<operations::OperationSummary> listOperations() const;
    std::optional<operations::OperationSummary> findOperation(const std::string& typeId) const;

    // senderId empty: the active sender as it is. filePath absent: no file
    // (a present empty path is passed on as it is). progress may be empty.
    operations::ExecuteResult execute(const std::string& typeId, const std::string& paramsJson,
                                      const std::optional<std::string>& filePath,
                                      const operations::ProgressCallback& progress,
                                      const std::string& senderId);
    // The operation's fixture, projected; no sender, session or file.
    operations::ExecuteResult executeTest(const std::string& typeId, const std::string& paramsJson) const;

    // Resets and destroys the session. Does nothing when not initialised.
    void shutdown();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velk::core
