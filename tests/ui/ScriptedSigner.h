#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "infrastructure/signing/ISigner.h"

namespace velk::test {

// A signer that lists the certificates it is given (or throws the given
// message) and signs nothing.
class ScriptedSigner : public signing::ISigner {
public:
    std::vector<signing::CertificateInfo> certificates;
    std::string listError;  // when set, listCertificates throws it
    int listings = 0;

    std::vector<signing::CertificateInfo> listCertificates() override {
        ++listings;
        if (!listError.empty()) {
            throw std::runtime_error(listError);
        }
        return certificates;
    }
    signing::Bytes signData(const signing::Bytes&, const std::string&, const std::string&) override {
        return {};
    }
    bool warmUp(const std::string&, const std::string&) override { return false; }
    signing::Bytes getCertificateDer(const std::string&) override { return {}; }
};

inline signing::CertificateInfo certificate(std::string id, std::string subject, std::string notAfter,
                                            bool hardware = false) {
    signing::CertificateInfo info;
    info.id = std::move(id);
    info.subject = std::move(subject);
    info.notAfter = std::move(notAfter);
    info.hardware = hardware;
    return info;
}

}  // namespace velk::test
