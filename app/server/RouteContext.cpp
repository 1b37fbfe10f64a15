#include "server/RouteContext.h"

#include <chrono>
#include <exception>
#include <utility>

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "server/GuiCall.h"
#include "server/IFilePicker.h"

namespace velk::server {

namespace {

std::int64_t systemSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::int64_t steadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// One file or folder dialog, run on the GUI thread.
struct FilePickerCall {
    IFilePicker* picker;
    bool pickFolder;
    std::string startDir;
    std::string filter;
    DialogGate::Turn turn;  // held until the dialog has closed

    std::string operator()() const {
        return pickFolder ? picker->pickFolder(startDir) : picker->pickFile(startDir, filter);
    }
};

}  // namespace

RouteContext::RouteContext(core::VelkEngine* engine, JobStore* jobStore, IFilePicker* filePicker,
                           ISenderPicker* senderPicker, ServerClocks clocks)
    : engine_(engine),
      jobStore_(jobStore),
      filePicker_(filePicker),
      senderPicker_(senderPicker),
      wallSeconds_(clocks.wallSeconds ? std::move(clocks.wallSeconds) : systemSeconds),
      steadyNs_(clocks.steadyNs ? std::move(clocks.steadyNs) : steadyNanoseconds),
      replayCache_(steadyNs_),
      dialogGate_(steadyNs_),
      dialogTimeLimit_(clocks.dialogTimeLimit.count() > 0
                           ? clocks.dialogTimeLimit
                           : std::chrono::milliseconds(ServerClocks::kDialogTimeLimit)),
      dialogTimeUp_(std::move(clocks.dialogTimeUp)) {}

std::stop_token RouteContext::dialogTimeUp() const {
    return dialogTimeUp_ ? dialogTimeUp_() : std::stop_token();
}

std::int64_t RouteContext::nowSeconds() const {
    return wallSeconds_();
}

void RouteContext::markStarted() {
    startedNs_ = steadyNs_();
}

std::int64_t RouteContext::uptimeSeconds() const {
    return (steadyNs_() - startedNs_.load()) / 1'000'000'000;
}

void RouteContext::setOnNeedsSettings(std::function<void()> callback) {
    std::lock_guard lock(callbackMutex_);
    onNeedsSettings_ = std::move(callback);
}

void RouteContext::notifyNeedsSettings() const {
    std::function<void()> callback;
    {
        std::lock_guard lock(callbackMutex_);
        callback = onNeedsSettings_;
    }
    if (!callback) {
        return;
    }
    try {
        callback();
    } catch (const std::exception& e) {
        core::logLine(core::LogLevel::Warn,
                      "HttpServer: onNeedsSettings threw: " + core::escapeControlBytes(e.what()));
    }
}

SenderPickResult RouteContext::pickSenderOnUiThread(const DialogGate::Turn& turn,
                                                    const std::vector<core::SenderProfile>& senders,
                                                    const std::string& preselectedId,
                                                    const std::string& origin,
                                                    const std::string& operationName,
                                                    const std::string& filePath) {
    if (senderPicker_ == nullptr || !turn) {
        return {};
    }
    ISenderPicker* picker = senderPicker_;
    return callOnGuiThread<SenderPickResult>(
        *picker,
        [picker, senders, preselectedId, origin, operationName, filePath, turn] {
            return picker->pickSender(senders, preselectedId, origin, operationName, filePath);
        },
        stopSource_.get_token(), SenderPickResult{}, dialogTimeLimit_, dialogTimeUp());
}

std::string RouteContext::pickPathOnUiThread(bool pickFolder, const std::string& startDir,
                                             const std::string& filter) {
    if (filePicker_ == nullptr) {
        return {};
    }
    DialogGate::Turn turn = enterDialog();
    if (!turn) {
        return {};
    }
    return callOnGuiThread<std::string>(
        *filePicker_, FilePickerCall{filePicker_, pickFolder, startDir, filter, std::move(turn)},
        stopSource_.get_token(), std::string(), dialogTimeLimit_, dialogTimeUp());
}

}  // namespace velk::server
