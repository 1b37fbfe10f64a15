#pragma once

#include <memory>

namespace velk::server {

// The local API shows the user one dialog at a time. A modal dialog's own
// event loop delivers the next queued call, so without this every request of
// a web page would open its dialog on top of the last and hold a worker until
// the user has answered them all. Safe from any thread.
class DialogGate {
public:
    // A claim on the screen. Copies share it; the gate opens again when the
    // last copy goes, which may be on the GUI thread once the dialog closes.
    using Turn = std::shared_ptr<const void>;

    DialogGate();
    DialogGate(const DialogGate&) = delete;
    DialogGate& operator=(const DialogGate&) = delete;

    // The turn, or an empty one while another turn is held. May outlive the
    // gate.
    Turn tryEnter();

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace velk::server
