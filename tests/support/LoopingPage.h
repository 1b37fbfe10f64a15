#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include <httplib.h>
#include <nlohmann/json.hpp>

namespace velk::test {

// A page of another site that sends one run again the moment it has its
// answer, on one kept-open connection, until told to stop: the tab that
// would keep the agent's one dialog for itself. It counts the user's
// declines and the refusals that another dialog is open; after a refusal it
// pauses a millisecond to spare the machine, after a decline it asks at once.
class LoopingPage {
public:
    struct Request {
        std::string path;
        httplib::Headers headers;
        std::string body;
        std::string contentType;
    };

    // readLimit: only a hang should reach it, the dialog's own limit comes
    // first.
    LoopingPage(int port, Request request, std::chrono::seconds readLimit)
        : thread_([this, port, request = std::move(request), readLimit] { run(port, request, readLimit); }) {}
    ~LoopingPage() { finish(); }
    LoopingPage(const LoopingPage&) = delete;
    LoopingPage& operator=(const LoopingPage&) = delete;

    // Stops after the answer it waits for.
    void finish() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    int answers() const { return answers_; }
    int declined() const { return declined_; }
    int busy() const { return busy_; }
    // The last answer that was neither, as "status body"; empty when none.
    std::string unexpected() const {
        std::lock_guard lock(mutex_);
        return unexpected_;
    }

private:
    static nlohmann::json refusal(const char* message) {
        return {{"success", false}, {"errorMessage", message}};
    }

    void run(int port, const Request& request, std::chrono::seconds readLimit) {
        httplib::Client client("127.0.0.1", port);
        client.set_keep_alive(true);
        client.set_connection_timeout(5);
        client.set_read_timeout(readLimit);
        const nlohmann::json declined = refusal("Операцията е отказана от потребителя.");
        const nlohmann::json busy =
            refusal("Друга операция очаква потвърждение в агента. Отговорете на нея и опитайте отново.");
        // Bounded, should the test never tell it to stop.
        for (int sent = 0; sent < 1'000'000 && !stop_; ++sent) {
            const auto answer =
                client.Post(request.path.c_str(), request.headers, request.body, request.contentType.c_str());
            const nlohmann::json value = answer && answer->status == 200
                                             ? nlohmann::json::parse(answer->body, nullptr, false)
                                             : nlohmann::json();
            if (value == declined) {
                ++declined_;
            } else if (value == busy) {
                ++busy_;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            } else {
                std::lock_guard lock(mutex_);
                unexpected_ = answer ? std::to_string(answer->status) + " " + answer->body : "no answer";
            }
            ++answers_;
        }
    }

    std::atomic<bool> stop_{false};
    std::atomic<int> answers_{0};
    std::atomic<int> declined_{0};
    std::atomic<int> busy_{0};
    mutable std::mutex mutex_;
    std::string unexpected_;
    std::thread thread_;
};

}  // namespace velk::test
