#include "agent/InstanceMessageListener.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <string>
#include <utility>

#include "platform/InstanceMessage.h"
#include "platform/SingleInstance.h"

namespace velk::agent {

struct InstanceMessageListener::Peer {
    explicit Peer(platform::UniqueFd fd) : message(std::move(fd), kMaxMessageBytes) {}

    // Declared first, so the descriptor closes after its notifier has gone.
    platform::InstanceMessage message;
    std::unique_ptr<QSocketNotifier> readable;
    std::unique_ptr<QTimer> deadline;
    bool finished = false;
};

InstanceMessageListener::InstanceMessageListener(platform::SingleInstance& instance, Handler onMessage,
                                                 std::chrono::milliseconds timeLimit)
    : instance_(instance), onMessage_(std::move(onMessage)), timeLimit_(timeLimit) {
    if (instance_.messageFd() < 0) {
        return;
    }
    listening_ = std::make_unique<QSocketNotifier>(instance_.messageFd(), QSocketNotifier::Read);
    connect(listening_.get(), &QSocketNotifier::activated, this, [this] { acceptWaiting(); });
}

InstanceMessageListener::~InstanceMessageListener() = default;

void InstanceMessageListener::acceptWaiting() {
    if (peers_.size() >= kMaxPeers) {
        // Woken again when a slot frees; a level-triggered notice would
        // otherwise spin the event loop.
        listening_->setEnabled(false);
        return;
    }
    platform::UniqueFd fd = instance_.acceptPeer();
    if (!fd.valid()) {
        return;
    }
    auto peer = std::make_unique<Peer>(std::move(fd));
    Peer* const raw = peer.get();
    raw->readable = std::make_unique<QSocketNotifier>(raw->message.fd(), QSocketNotifier::Read);
    connect(raw->readable.get(), &QSocketNotifier::activated, this, [this, raw] { readFrom(*raw); });
    raw->deadline = std::make_unique<QTimer>();
    raw->deadline->setSingleShot(true);
    connect(raw->deadline.get(), &QTimer::timeout, this, [this, raw] { finish(*raw); });
    raw->deadline->start(timeLimit_);
    peers_.push_back(std::move(peer));
    // The message may be there already.
    readFrom(*raw);
}

void InstanceMessageListener::readFrom(Peer& peer) {
    if (peer.finished) {
        return;
    }
    const platform::InstanceMessage::State state = peer.message.readAvailable();
    if (state == platform::InstanceMessage::State::Reading) {
        return;
    }
    // A copy: the handler may run the event loop, which removes the peer.
    const std::string text = peer.message.text();
    finish(peer);
    if (state == platform::InstanceMessage::State::Complete && onMessage_) {
        onMessage_(text);
    }
}

// Stops watching the peer at once; it is removed on a later turn of the event
// loop, as its notifier or timer may be the one now calling.
void InstanceMessageListener::finish(Peer& peer) {
    peer.finished = true;
    peer.readable->setEnabled(false);
    peer.deadline->stop();
    if (!removalQueued_) {
        removalQueued_ = true;
        QMetaObject::invokeMethod(
            this, [this] { removeFinished(); }, Qt::QueuedConnection);
    }
}

void InstanceMessageListener::removeFinished() {
    removalQueued_ = false;
    peers_.erase(
        std::remove_if(peers_.begin(), peers_.end(), [](const auto& peer) { return peer->finished; }),
        peers_.end());
    if (listening_ && peers_.size() < kMaxPeers) {
        listening_->setEnabled(true);
    }
}

}  // namespace velk::agent
