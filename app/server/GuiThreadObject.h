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
};

}  // namespace velk::server
