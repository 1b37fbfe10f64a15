#pragma once

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/UniqueFd.h"
#include "support/AbstractSocket.h"

namespace velk::test {

// A program of the same user that connects to an abstract local socket and
// then sends one byte every 450 ms, up to a number of bytes: each byte comes
// well within a reader's wait for the next. The bytes stop when the object
// goes (or at stop()).
class TricklingPeer {
public:
    TricklingPeer(const std::string& abstractName, int maxBytes)
        : socket_(connectToAbstractName(abstractName)) {
        if (!socket_.valid()) {
            return;
        }
        connected_ = true;
        thread_ = std::thread([this, maxBytes] {
            for (int i = 0; i < maxBytes && !stop_; ++i) {
                if (::send(socket_.get(), "s", 1, MSG_NOSIGNAL) != 1) {
                    return;
                }
                for (int slice = 0; slice < 9 && !stop_; ++slice) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                }
            }
        });
    }
    ~TricklingPeer() { stop(); }
    TricklingPeer(const TricklingPeer&) = delete;
    TricklingPeer& operator=(const TricklingPeer&) = delete;

    bool connected() const { return connected_; }

    void stop() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    platform::UniqueFd socket_;
    bool connected_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace velk::test
