#include "platform/SingleInstance.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace velk::platform {

namespace {

constexpr int kMessageWaitMs = 500;
// The leading zero byte puts the name in the abstract namespace. False when
// the name does not fit.
bool abstractAddress(const std::string& name, sockaddr_un& address, socklen_t& length) {
    address = {};
    address.sun_family = AF_UNIX;
    if (name.empty() || name.size() + 1 > sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return true;
}

bool waitFor(int fd, short events, int timeoutMs = kMessageWaitMs) {
    pollfd entry{fd, events, 0};
    int rc = 0;
    do {
        rc = ::poll(&entry, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    return rc > 0 && (entry.revents & events) != 0;
}

}  // namespace

SingleInstance::SingleInstance(std::string name) : name_(std::move(name)) {}

std::string SingleInstance::nameForPort(std::uint16_t port) {
    return "VezoRodarC_" + std::to_string(port);
}

bool SingleInstance::tryAcquire() {
    if (socket_.valid()) {
        return true;
    }
    sockaddr_un address{};
    socklen_t length = 0;
    if (!abstractAddress(name_, address, length)) {
        return false;
    }

    // Close-on-exec: a child process (the Java client, a browser opened for the
    // user) must not inherit the socket and keep the name after we are gone.
    // Non-blocking, so a caller that vanished between the notice and the
    // accept cannot stall the event loop.
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid() || ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        return false;
    }
    // The name is held once bound; without a backlog it only takes no messages.
    // Room for the connections the holder reads at once and a few waiting.
    ::listen(fd.get(), 16);
    socket_ = std::move(fd);
    return true;
}

UniqueFd SingleInstance::acceptPeer() {
    if (!socket_.valid()) {
        return UniqueFd();
    }
    UniqueFd peer(::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!peer.valid()) {
        return UniqueFd();
    }
    // Abstract names carry no file permissions: anyone on the machine can
    // connect, so only this user's own programs are listened to.
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(peer.get(), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
        credentials.uid != ::getuid()) {
        return UniqueFd();
    }
    return peer;
}

bool SingleInstance::sendMessage(const std::string& name, std::string_view message) {
    sockaddr_un address{};
    socklen_t length = 0;
    if (!abstractAddress(name, address, length)) {
        return false;
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid() || ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        return false;
    }
    std::size_t sent = 0;
    while (sent < message.size()) {
        if (!waitFor(fd.get(), POLLOUT)) {
            return false;
        }
        const ssize_t n = ::send(fd.get(), message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace velk::platform
