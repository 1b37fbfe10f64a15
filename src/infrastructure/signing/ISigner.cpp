#include "infrastructure/signing/ISigner.h"

namespace velk::signing {

ISigner::~ISigner() = default;

Bytes ISigner::signDataForPortal(const Bytes& data, const std::string& certificateId,
                                 const std::string& pin) {
    return signData(data, certificateId, pin);
}

}  // namespace velk::signing
