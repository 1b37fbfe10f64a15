#pragma once

#include <cstddef>
#include <string>

#include "platform/UniqueFd.h"

namespace velk::platform {

// One message from a later start of the program, read from its connection in
// pieces as they arrive, never waiting for the next: the holder reads on the
// GUI thread, which a slow or trickling peer must not hold. The message is
// whole when the peer closes its end or maxBytes have arrived (the rest is
// not read); how long to wait for that is the caller's choice.
class InstanceMessage {
public:
    enum class State { Reading, Complete, Failed };

    InstanceMessage(UniqueFd peer, std::size_t maxBytes);

    // The descriptor to watch for more bytes.
    int fd() const { return peer_.get(); }

    // Takes what has arrived, at most maxBytes in all, and returns at once.
    // A read error ends the message as Failed. The state holds once it is no
    // longer Reading.
    State readAvailable();

    State state() const { return state_; }
    // What has arrived so far; the message once Complete.
    const std::string& text() const { return text_; }

private:
    UniqueFd peer_;
    std::size_t maxBytes_;
    std::string text_;
    State state_ = State::Reading;
};

}  // namespace velk::platform
