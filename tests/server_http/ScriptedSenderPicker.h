#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/ISenderPicker.h"

namespace velk::test {

// A sender picker that answers from a script (cancelling once the script is
// used up) and records every call. Its tasks run wherever the dispatcher puts
// them: by default at once on the posting thread.
class ScriptedSenderPicker : public server::ISenderPicker {
public:
    struct Call {
        std::vector<std::string> senderIds;
        std::string preselectedId;
        std::string requester;
        std::string operationName;
        std::string filePath;
        std::thread::id thread;
    };
    using Dispatcher = std::function<void(std::function<void()>)>;

    ScriptedSenderPicker() : ScriptedSenderPicker([](std::function<void()> task) { task(); }) {}
    explicit ScriptedSenderPicker(Dispatcher dispatcher) : dispatcher_(std::move(dispatcher)) {}

    void post(std::function<void()> task) override { dispatcher_(std::move(task)); }
    // Its dialogs answer at once: there is never one to close.
    void closeDialog() override {}

    server::SenderPickResult pickSender(const std::vector<core::SenderProfile>& senders,
                                        const std::string& preselectedId, const std::string& requester,
                                        const std::string& operationName,
                                        const std::string& filePath) override {
        Call call{{}, preselectedId, requester, operationName, filePath, std::this_thread::get_id()};
        for (const auto& sender : senders) {
            call.senderIds.push_back(sender.id);
        }
        std::function<void()> action;
        server::SenderPickResult result;
        {
            std::lock_guard lock(mutex_);
            calls_.push_back(std::move(call));
            if (!script_.empty()) {
                result = script_.front();
                script_.pop_front();
            }
            action = onPick;
        }
        if (action) {
            action();
        }
        return result;
    }

    // The next answer: choose id (and remember it), or ask for a new sender.
    void choose(const std::string& id, bool remember = false) { push({id, remember, false}); }
    void cancel() { push({}); }
    void createNew() { push({"", false, true}); }
    void clearScript() {
        std::lock_guard lock(mutex_);
        script_.clear();
    }

    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

    // Runs during every pick, on the picking thread.
    std::function<void()> onPick;

private:
    void push(server::SenderPickResult result) {
        std::lock_guard lock(mutex_);
        script_.push_back(std::move(result));
    }

    Dispatcher dispatcher_;
    mutable std::mutex mutex_;
    std::deque<server::SenderPickResult> script_;
    std::vector<Call> calls_;
};

}  // namespace velk::test
