#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/IFilePicker.h"

namespace velk::test {

// A file picker that answers from a script (cancelling, with the empty path,
// once the script is used up) and records every call. Its tasks run wherever
// the dispatcher puts them: by default at once on the posting thread.
class ScriptedFilePicker : public server::IFilePicker {
public:
    struct Call {
        bool folder = false;
        std::string startDir;
        std::string filter;
        std::thread::id thread;
    };
    using Dispatcher = std::function<void(std::function<void()>)>;

    ScriptedFilePicker() : ScriptedFilePicker([](std::function<void()> task) { task(); }) {}
    explicit ScriptedFilePicker(Dispatcher dispatcher) : dispatcher_(std::move(dispatcher)) {}

    void post(std::function<void()> task) override {
        {
            std::lock_guard lock(mutex_);
            ++posted_;
        }
        postedChanged_.notify_all();
        dispatcher_(std::move(task));
    }

    // Its dialogs answer at once: there is never one to close.
    void closeDialog() override {}

    std::string pickFile(const std::string& startDir, const std::string& filter) override {
        return answer({false, startDir, filter, std::this_thread::get_id()});
    }
    std::string pickFolder(const std::string& startDir) override {
        return answer({true, startDir, "", std::this_thread::get_id()});
    }

    // The next answer; the empty path is a cancelled dialog.
    void choose(std::string path) {
        std::lock_guard lock(mutex_);
        script_.push_back(std::move(path));
    }

    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

    [[nodiscard]] bool waitForPosts(int count) {
        std::unique_lock lock(mutex_);
        return postedChanged_.wait_for(lock, std::chrono::seconds(60), [&] { return posted_ >= count; });
    }

private:
    std::string answer(Call call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
        std::string path;
        if (!script_.empty()) {
            path = std::move(script_.front());
            script_.pop_front();
        }
        return path;
    }

    Dispatcher dispatcher_;
    mutable std::mutex mutex_;
    std::condition_variable postedChanged_;
    int posted_ = 0;
    std::deque<std::string> script_;
    std::vector<Call> calls_;
};

}  // namespace velk::test
