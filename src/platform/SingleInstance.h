#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/UniqueFd.h"

namespace velk::platform {

// Machine-wide "only one agent" guard, in place of a named kernel mutex: a
// Unix socket bound to a name in the abstract namespace. The kernel frees the
// name when the socket closes, so the guard goes with this object or with the
// process however it ends, and no stale file is ever left behind.
class SingleInstance {
public:
    explicit SingleInstance(std::string name);
    ~SingleInstance() = default;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // The agent's guard name for its local API port: "VezoRodarC_<port>".
    static std::string nameForPort(std::uint16_t port);

    // True when this object holds the name (also on a repeated call); false
    // when another holder has it or no socket can be made. The name is freed
    // when the object goes.
    bool tryAcquire();

    // While held, the name also takes short messages from later starts of the
    // program (a request to show the window where no tray icon can). The
    // descriptor to watch for them, or -1 when not held.
    int messageFd() const { return socket_.get(); }
    // Takes one waiting connection of this user's, without waiting: an
    // invalid descriptor when none waits or the caller is another user, whose
    // connection is closed. Read its message with InstanceMessage.
    UniqueFd acceptPeer();

    // Hands message to the holder of name; false when nobody holds it or it
    // does not take the message within a short time.
    static bool sendMessage(const std::string& name, std::string_view message);

private:
    std::string name_;
    UniqueFd socket_;
};

}  // namespace velk::platform
