#pragma once

#include <functional>

namespace velk::server {

// An object that lives on the GUI thread. The server reaches it only through
// post, from its worker threads, and never from the GUI thread itself.
class GuiThreadObject {
public:
    virtual ~GuiThreadObject() = default;

    // Queues the task to run on the GUI thread and returns at once. A task
    // that never runs (the event loop has ended) is destroyed unrun.
    virtual void post(std::function<void()> task) = 0;

    // On the GUI thread: closes the dialog this object has open, as if the
    // user had cancelled it; nothing when none is open. The server posts it
    // when it stops waiting for a dialog, so none stays on screen unanswered.
    virtual void closeDialog() = 0;
};

}  // namespace velk::server
