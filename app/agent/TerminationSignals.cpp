#include "agent/TerminationSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <string>

#include "common/Logger.h"

namespace velk::agent {

namespace {

// The pipe's write end for the handler; -1 while no object is installed.
volatile sig_atomic_t signalWriteFd = -1;

// Async-signal-safe: one write, errno kept. A full pipe already holds a
// pending signal, so a lost byte loses nothing.
void onTerminationSignal(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalWriteFd, &byte, 1);
    errno = savedErrno;
}

std::string signalName(int signalNumber) {
    switch (signalNumber) {
        case SIGTERM:
            return "SIGTERM";
        case SIGINT:
            return "SIGINT";
        default:
            return "signal " + std::to_string(signalNumber);
    }
}

}  // namespace

TerminationSignals::TerminationSignals() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        core::logLine(
            core::LogLevel::Error,
            std::string("VezoRodarC: no signal pipe, SIGTERM and SIGINT end the process at once: ") +
                std::strerror(errno));
        return;
    }
    readEnd_ = platform::UniqueFd(fds[0]);
    writeEnd_ = platform::UniqueFd(fds[1]);
    notifier_ = std::make_unique<QSocketNotifier>(readEnd_.get(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { onSignalPending(); });

    signalWriteFd = writeEnd_.get();
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, &previousTerm_);
    sigaction(SIGINT, &action, &previousInt_);
}

TerminationSignals::~TerminationSignals() {
    if (!active()) {
        return;
    }
    sigaction(SIGTERM, &previousTerm_, nullptr);
    sigaction(SIGINT, &previousInt_, nullptr);
    signalWriteFd = -1;
    notifier_.reset();
}

void TerminationSignals::onSignalPending() {
    unsigned char bytes[16];
    const ssize_t count = ::read(readEnd_.get(), bytes, sizeof bytes);
    for (ssize_t i = 0; i < count; ++i) {
        core::logLine(core::LogLevel::Info,
                      "VezoRodarC: " + signalName(bytes[i]) + " received, shutting down");
    }
    QCoreApplication::quit();
}

}  // namespace velk::agent
