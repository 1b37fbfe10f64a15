#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <stdexcept>

#include "platform/UniqueFd.h"

namespace velk::test {

// A loopback port that listens and accepts nothing: it tells whether any
// client has connected, whatever it meant to send.
class SilentListener {
public:
    SilentListener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (!fd_.valid() || ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            ::listen(fd_.get(), 8) != 0 ||
            ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("no loopback listener");
        }
        port_ = ntohs(address.sin_port);
    }

    int port() const { return port_; }

    // A connection waits in the backlog from the moment the client's
    // connect has returned, accepted or not.
    bool connected() const {
        pollfd entry{fd_.get(), POLLIN, 0};
        return ::poll(&entry, 1, 0) == 1;
    }

private:
    platform::UniqueFd fd_;
    int port_ = 0;
};

}  // namespace velk::test
