#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

#include "server/DialogGate.h"
#include "server/ISenderPicker.h"
#include "server/ServerClocks.h"
#include "server/TokenReplayCache.h"

namespace velk::core {
class VelkEngine;
}  // namespace velk::core

namespace velk::server {

class IFilePicker;
class JobStore;

// What the route handlers share: the engine and the GUI-thread objects the
// server was given (not owned), the replay guard, the clocks, the settings
// callback, the one dialog at a time and the server's stop signal. Safe from
// the worker threads.
class RouteContext {
public:
    RouteContext(core::VelkEngine* engine, JobStore* jobStore, IFilePicker* filePicker,
                 ISenderPicker* senderPicker, ServerClocks clocks);
    RouteContext(const RouteContext&) = delete;
    RouteContext& operator=(const RouteContext&) = delete;

    core::VelkEngine& engine() const { return *engine_; }
    JobStore* jobStore() const { return jobStore_; }
    IFilePicker* filePicker() const { return filePicker_; }
    ISenderPicker* senderPicker() const { return senderPicker_; }
    TokenReplayCache& replayCache() { return replayCache_; }
    // Wall-clock seconds since 1970-01-01 UTC, truncated.
    std::int64_t nowSeconds() const;

    // Notes the server's start, the base of its uptime.
    void markStarted();
    // Whole seconds on the monotonic clock since markStarted.
    std::int64_t uptimeSeconds() const;

    void setOnNeedsSettings(std::function<void()> callback);
    // Asks the desktop program to show its settings; the callback only queues
    // that work. A std::exception it throws is logged and swallowed.
    void notifyNeedsSettings() const;

    // The turn at the screen for the dialogs of one request; empty while
    // another request's dialog is open (or its turn held).
    DialogGate::Turn enterDialog() { return dialogGate_.tryEnter(); }
    // The same for a request on behalf of requester (as the sender picker
    // shows it), also empty while the user's decline holds requester back.
    DialogGate::Turn enterDialog(const std::string& requester) { return dialogGate_.tryEnter(requester); }
    // The user declined requester's dialog (or left it unanswered); call it
    // while the request still holds its turn.
    void holdBack(const std::string& requester) { dialogGate_.holdBack(requester); }

    // Shows the sender picker on the GUI thread and waits for it, within the
    // caller's turn, which the dialog keeps until it has closed; the
    // cancelled answer (nothing set) without a picker or a turn, once
    // stopping and when the user has not answered within the time limit.
    SenderPickResult pickSenderOnUiThread(const DialogGate::Turn& turn,
                                          const std::vector<core::SenderProfile>& senders,
                                          const std::string& preselectedId, const std::string& origin,
                                          const std::string& operationName, const std::string& filePath);
    // Shows the folder dialog (pickFolder) or the file dialog with the filter
    // on the GUI thread and waits for it; the empty path when the user
    // cancels, without a picker, while another dialog is open, once stopping
    // and when the user has not answered within the time limit.
    std::string pickPathOnUiThread(bool pickFolder, const std::string& startDir, const std::string& filter);

    // Ends every wait for the GUI thread, now and later.
    void requestStop() { stopSource_.request_stop(); }
    bool stopping() const { return stopSource_.stop_requested(); }

private:
    std::stop_token dialogTimeUp() const;

    core::VelkEngine* engine_;
    JobStore* jobStore_;
    IFilePicker* filePicker_;
    ISenderPicker* senderPicker_;
    std::function<std::int64_t()> wallSeconds_;
    TokenReplayCache::SteadyClock steadyNs_;
    std::atomic<std::int64_t> startedNs_{0};
    TokenReplayCache replayCache_;
    DialogGate dialogGate_;
    std::chrono::milliseconds dialogTimeLimit_;
    std::function<std::stop_token()> dialogTimeUp_;
    std::stop_source stopSource_;

    mutable std::mutex callbackMutex_;
    std::function<void()> onNeedsSettings_;
};

}  // namespace velk::server
