#include "platform/SingleInstance.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstring>

namespace velk::platform {

SingleInstance::SingleInstance(std::string name) : name_(std::move(name)) {}

std::string SingleInstance::nameForPort(std::uint16_t port) {
    return "VezoRodarC_" + std::to_string(port);
}

bool SingleInstance::tryAcquire() {
    if (socket_.valid()) {
        return true;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // The leading zero byte puts the name in the abstract namespace.
    if (name_.empty() || name_.size() + 1 > sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path + 1, name_.data(), name_.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name_.size());

    // Close-on-exec: a child process (the Java client, a browser opened for the
    // user) must not inherit the socket and keep the name after we are gone.
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid() || ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        return false;
    }
    socket_ = std::move(fd);
    return true;
}

}  // namespace velk::platform
