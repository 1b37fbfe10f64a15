#pragma once

#include <sys/socket.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/UniqueFd.h"
#include "support/AbstractSocket.h"

namespace velk::test {

// A later start of the program held up between connecting and sending, as on
// a busy desktop: it connects at once, sends its message after the pause and
// closes. The pause is the peer's own; nothing waits on it but the peer.
class HeldUpStart {
public:
    HeldUpStart(const std::string& abstractName, std::string message, std::chrono::milliseconds pause)
        : socket_(connectToAbstractName(abstractName)) {
        if (!socket_.valid()) {
            return;
        }
        connected_ = true;
        thread_ = std::thread([this, message = std::move(message), pause] {
            std::this_thread::sleep_for(pause);
            sent_ = ::send(socket_.get(), message.data(), message.size(), MSG_NOSIGNAL) ==
                    static_cast<ssize_t>(message.size());
            socket_.reset();
        });
    }
    ~HeldUpStart() { join(); }
    HeldUpStart(const HeldUpStart&) = delete;
    HeldUpStart& operator=(const HeldUpStart&) = delete;

    bool connected() const { return connected_; }

    // Waits for the pause to end; true when the whole message went out.
    bool join() {
        if (thread_.joinable()) {
            thread_.join();
        }
        return sent_;
    }

private:
    platform::UniqueFd socket_;
    bool connected_ = false;
    bool sent_ = false;  // written by the thread, read after the join
    std::thread thread_;
};

}  // namespace velk::test
