#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "infrastructure/signing/ISigner.h"
#include "infrastructure/signing/InvalidPinException.h"
#include "infrastructure/signing/SigningCancelledException.h"

namespace velk::test {

// A signer that fails in the chosen way, or hands the work to a real one
// while recording the PINs it was given.
class ScriptedSigner : public signing::ISigner {
public:
    enum class Behaviour { Delegate, Cancel, WrongPin, Throw, Empty };

    explicit ScriptedSigner(signing::ISigner& real, Behaviour behaviour = Behaviour::Delegate)
        : real_(real), behaviour_(behaviour) {}

    std::vector<signing::CertificateInfo> listCertificates() override { return real_.listCertificates(); }
    signing::Bytes signData(const signing::Bytes& data, const std::string& certificateId,
                            const std::string& pin) override {
        pins.push_back(pin);
        return act() ? real_.signData(data, certificateId, pin) : signing::Bytes();
    }
    signing::Bytes signDataForPortal(const signing::Bytes& data, const std::string& certificateId,
                                     const std::string& pin) override {
        pins.push_back(pin);
        return act() ? real_.signDataForPortal(data, certificateId, pin) : signing::Bytes();
    }
    bool warmUp(const std::string& certificateId, const std::string& pin) override {
        return real_.warmUp(certificateId, pin);
    }
    signing::Bytes getCertificateDer(const std::string& certificateId) override {
        return real_.getCertificateDer(certificateId);
    }

    std::vector<std::string> pins;

private:
    // Whether to delegate; throws or declines as scripted.
    bool act() const {
        switch (behaviour_) {
            case Behaviour::Cancel:
                throw signing::SigningCancelledException();
            case Behaviour::WrongPin:
                throw signing::InvalidPinException();
            case Behaviour::Throw:
                throw std::runtime_error("token removed");
            case Behaviour::Empty:
                return false;
            case Behaviour::Delegate:
                break;
        }
        return true;
    }

    signing::ISigner& real_;
    Behaviour behaviour_;
};

}  // namespace velk::test
