#include "platform/InstanceMessage.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace velk::platform {

InstanceMessage::InstanceMessage(UniqueFd peer, std::size_t maxBytes)
    : peer_(std::move(peer)), maxBytes_(maxBytes) {
    if (!peer_.valid()) {
        state_ = State::Failed;
    }
}

InstanceMessage::State InstanceMessage::readAvailable() {
    char buffer[64];
    while (state_ == State::Reading) {
        if (text_.size() >= maxBytes_) {
            state_ = State::Complete;
            break;
        }
        const ssize_t n =
            ::recv(peer_.get(), buffer, std::min(sizeof buffer, maxBytes_ - text_.size()), MSG_DONTWAIT);
        if (n > 0) {
            text_.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            state_ = State::Complete;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
        } else if (errno != EINTR) {
            state_ = State::Failed;
        }
    }
    return state_;
}

}  // namespace velk::platform
