#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>

#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "ui/ModalDialogs.h"

namespace velk::test {

// Runs call on a worker thread, as the local API's request threads do, while
// this (the GUI) thread runs an event loop until the call returns; a guard
// ends the loop instead of hanging the test. Returns the call's result.
template <class Result>
Result fromRequestThread(std::function<Result()> call, int guardMs = 60'000) {
    Result result{};
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, [&loop] { loop.exit(99); });
    guard.start(guardMs);
    std::thread request([&] {
        result = call();
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.exit(0); }, Qt::QueuedConnection);
    });
    int outcome = loop.exec();
    for (int retry = 0; outcome != 0 && retry < 3; ++retry) {
        ADD_FAILURE() << "the request thread's call did not return in time";
        closeAllModals();  // the call's dialog, so that the thread can finish
        guard.start(guardMs);
        outcome = loop.exec();
    }
    request.join();
    return result;
}

}  // namespace velk::test
