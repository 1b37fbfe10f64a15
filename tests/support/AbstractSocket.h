#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "platform/UniqueFd.h"

namespace velk::test {

// A blocking stream connection to a name in the abstract namespace, as a
// later start of the program makes it; invalid when nobody listens there.
inline platform::UniqueFd connectToAbstractName(const std::string& name) {
    platform::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    if (!fd.valid() || name.size() + 1 > sizeof address.sun_path) {
        return platform::UniqueFd();
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        return platform::UniqueFd();
    }
    return fd;
}

}  // namespace velk::test
