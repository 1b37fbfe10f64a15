#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "infrastructure/signing/ISigner.h"
#include "infrastructure/signing/InvalidPinException.h"

namespace velk::test {

// Signs by writing "signed:" before the data, or fails as told; records
// what it was asked.
class RecordingSigner : public signing::ISigner {
public:
    enum class Behaviour { Sign, WrongPin };
    explicit RecordingSigner(Behaviour behaviour = Behaviour::Sign) : behaviour_(behaviour) {}

    std::vector<signing::CertificateInfo> listCertificates() override {
        signing::CertificateInfo first;
        first.id = "FIRST-LISTED";
        return {first};
    }
    signing::Bytes signData(const signing::Bytes& data, const std::string& certificateId,
                            const std::string& pin) override {
        requests.push_back({std::string(data.begin(), data.end()), certificateId, pin});
        if (behaviour_ == Behaviour::WrongPin) {
            throw signing::InvalidPinException();
        }
        const std::string out = "signed:" + std::string(data.begin(), data.end());
        return {out.begin(), out.end()};
    }
    bool warmUp(const std::string&, const std::string&) override { return true; }
    signing::Bytes getCertificateDer(const std::string&) override { return {}; }

    struct Request {
        std::string data;
        std::string certificateId;
        std::string pin;
    };
    std::vector<Request> requests;

private:
    Behaviour behaviour_;
};

}  // namespace velk::test
