#pragma once

#include <signal.h>

#include <memory>

#include "platform/UniqueFd.h"

class QSocketNotifier;

namespace velk::agent {

// SIGTERM and SIGINT end the Qt event loop instead of the process, so the
// agent shuts down in order (server, engine, "VezoRodarC exiting") when the
// desktop session ends or the user presses Ctrl+C. The handler only writes
// the signal's number into a pipe; the event loop reads it and quits.
//
// One object at a time per process; made on the GUI thread after the Qt
// application. The previous handlers come back when it goes.
class TerminationSignals {
public:
    TerminationSignals();
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // False when the pipe could not be made (logged): the signals then keep
    // their previous effect.
    bool active() const { return notifier_ != nullptr; }

private:
    void onSignalPending();

    platform::UniqueFd readEnd_;
    platform::UniqueFd writeEnd_;
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction previousTerm_ {};
    struct sigaction previousInt_ {};
};

}  // namespace velk::agent
