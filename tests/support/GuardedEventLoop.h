#pragma once

#include <QCoreApplication>
#include <QTimer>

#include <chrono>

#include "support/PollUntil.h"

namespace velk::test {

// Runs the application's event loop until something quits it; a guard quits
// it instead should nothing do so, so a regression fails rather than hangs.
// True when the loop ended before the guard fired.
[[nodiscard]] inline bool execUntilQuit(std::chrono::milliseconds guardTime = 2 * kPollDeadline) {
    bool guardFired = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&guardFired] {
        guardFired = true;
        QCoreApplication::quit();
    });
    guard.start(guardTime);
    QCoreApplication::exec();
    return !guardFired;
}

}  // namespace velk::test
