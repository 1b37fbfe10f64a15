#include "infrastructure/signing/SigningSession.h"

#include "platform/SecureWipe.h"

namespace velk::signing {

SigningSession::SigningSession(ISigner* signer) : signer_(signer) {}

SigningSession::~SigningSession() {
    platform::secureWipe(pin_);
}

void SigningSession::setPinListener(PinListener listener) {
    pinListener_ = std::move(listener);
    if (pinListener_ && !pin_.empty()) {
        pinListener_(certificateId_, pin_);
    }
}

}  // namespace velk::signing
