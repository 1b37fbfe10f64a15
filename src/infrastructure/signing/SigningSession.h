#pragma once

#include <functional>
#include <string>

namespace velk::signing {

class ISigner;

// Holds the process's signer (not owned), the PIN it was told of with the
// certificate it belongs to, and a listener told of both. Used on the start-up thread only.
class SigningSession {
public:
    using PinListener = std::function<void(const std::string& certificateId, const std::string& pin)>;

    explicit SigningSession(ISigner* signer);
    ~SigningSession();
    SigningSession(const SigningSession&) = delete;
    SigningSession& operator=(const SigningSession&) = delete;

    // Replaces the listener; calls the new one at once when a PIN is held.
    void setPinListener(PinListener listener);

private:
    ISigner* signer_;
    std::string certificateId_;
    std::string pin_;
    PinListener pinListener_;
};

}  // namespace velk::signing
