#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace velk::server {

// The local API shows the user one dialog at a time. A modal dialog's own
// event loop delivers the next queued call, so without this every request of
// a web page would open its dialog on top of the last and hold a worker until
// the user has answered them all. It is also fair to the user: a requester
// whose dialog the user has just declined is refused for a while, so a page
// that asks again the moment it is answered cannot keep the screen from
// every other page. Safe from any thread.
class DialogGate {
public:
    // A claim on the screen. Copies share it; the gate opens again when the
    // last copy goes, which may be on the GUI thread once the dialog closes.
    using Turn = std::shared_ptr<const void>;
    // Monotonic time in nanoseconds.
    using SteadyClock = std::function<std::int64_t()>;

    // How long a declined requester is refused: long enough for the user to
    // turn to another page and ask from there, short enough that a user who
    // declined by mistake soon gets the dialog again.
    static constexpr std::chrono::seconds kDeclineHold{5};

    explicit DialogGate(SteadyClock now);
    DialogGate(const DialogGate&) = delete;
    DialogGate& operator=(const DialogGate&) = delete;

    // The turn, or an empty one while another turn is held. May outlive the
    // gate. For dialogs that name no requester.
    Turn tryEnter();
    // The same for a dialog shown on behalf of requester (the text the user
    // sees as the one who asks), also empty while requester is held back.
    Turn tryEnter(const std::string& requester);

    // The user declined a dialog of requester, or left it unanswered: refuse
    // that requester for kDeclineHold from now. Call it before the declined
    // dialog's turn goes, so that no request of the same requester can slip
    // in between.
    void holdBack(const std::string& requester);

private:
    struct State;
    // The turn unless it is taken or requester (when given) is held back.
    Turn claim(const std::string* requester);

    SteadyClock now_;
    std::shared_ptr<State> state_;
};

}  // namespace velk::server
