#pragma once

#include <QObject>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace velk::platform {
class InstanceMessage;
class SingleInstance;
}  // namespace velk::platform

namespace velk::agent {

// Takes the messages of later starts from the held single-instance guard on
// the GUI thread without ever blocking it: each connection is read as its
// bytes arrive, between turns of the event loop. A start held up between
// connecting and sending (a busy desktop, a slow disk) is still heard; a
// connection that has not finished within the time limit is dropped, so a
// peer that trickles bytes holds nothing for long.
class InstanceMessageListener : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<void(const std::string& message)>;

    static constexpr std::chrono::milliseconds kDefaultTimeLimit{5000};
    static constexpr std::size_t kMaxMessageBytes = 64;
    // Connections read at once; later ones wait in the guard's backlog.
    static constexpr std::size_t kMaxPeers = 8;

    // instance must be held and outlive this object. onMessage gets each
    // whole message, on the GUI thread.
    InstanceMessageListener(platform::SingleInstance& instance, Handler onMessage,
                            std::chrono::milliseconds timeLimit = kDefaultTimeLimit);
    ~InstanceMessageListener() override;
    InstanceMessageListener(const InstanceMessageListener&) = delete;
    InstanceMessageListener& operator=(const InstanceMessageListener&) = delete;

    // Connections being read now.
    std::size_t pendingPeers() const { return peers_.size(); }

private:
    struct Peer;

    void acceptWaiting();
    void readFrom(Peer& peer);
    void finish(Peer& peer);
    void removeFinished();

    platform::SingleInstance& instance_;
    Handler onMessage_;
    std::chrono::milliseconds timeLimit_;
    std::unique_ptr<QSocketNotifier> listening_;
    std::vector<std::unique_ptr<Peer>> peers_;
    bool removalQueued_ = false;
};

}  // namespace velk::agent
