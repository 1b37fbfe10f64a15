#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "infrastructure/java/ZezizUrBridge.h"

namespace velk::test {

// Stands in for the Java bridge: answers each validation with the next
// scripted error list (none left: the folder passes) and records the calls.
class ScriptedValidator : public core::infra::java::ZezizUrBridge {
public:
    struct Call {
        std::string declarationDir;
        bool withProgress = false;
        WhenBusy whenBusy = WhenBusy::Wait;
    };

    std::vector<std::string> validate(const std::string& declarationDir, const Progress& progress,
                                      WhenBusy whenBusy = WhenBusy::Wait) override {
        std::lock_guard lock(mutex_);
        calls_.push_back({declarationDir, static_cast<bool>(progress), whenBusy});
        std::vector<std::string> errors;
        if (!script_.empty()) {
            errors = std::move(script_.front());
            script_.pop_front();
        }
        return errors;
    }

    void answer(std::vector<std::string> errors) {
        std::lock_guard lock(mutex_);
        script_.push_back(std::move(errors));
    }

    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    mutable std::mutex mutex_;
    std::deque<std::vector<std::string>> script_;
    std::vector<Call> calls_;
};

}  // namespace velk::test
