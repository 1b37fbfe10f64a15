#pragma once

#include <map>
#include <string>

namespace velk::core::infra::portal {

// The smart-card and token PINs the portal session holds, each with the
// certificate it was typed or remembered for. A PIN is handed out only for
// its own certificate, so a change of sender never presents one card's PIN
// to another card. A PIN a card refused is forgotten, here and among the
// remembered PINs, so it is never presented again (a card blocks itself
// after a few refusals, and every run would otherwise spend one).
class SessionPin {
public:
    SessionPin() = default;
    ~SessionPin();
    SessionPin(const SessionPin&) = delete;
    SessionPin& operator=(const SessionPin&) = delete;

    // An empty PIN forgets the certificate's PIN.
    void set(const std::string& certificateId, const std::string& pin);
    // The PIN for certificateId; empty when none is held for it.
    const std::string& pinFor(const std::string& certificateId) const;
    // For a certificate the session turns to: when no PIN is held for it,
    // the one remembered for it (pins.dat), if any.
    void adoptRemembered(const std::string& certificateId);
    // The card refused the PIN presented for certificateId: it is dropped,
    // and removed from the remembered PINs when that is the one stored there.
    // Nothing happens when no PIN was held for that certificate.
    void refused(const std::string& certificateId);

private:
    void forget(const std::string& certificateId);

    std::map<std::string, std::string> pins_;
};

}  // namespace velk::core::infra::portal
