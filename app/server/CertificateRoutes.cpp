#include "server/CertificateRoutes.h"

#include <cstddef>
#include <string>

#include "common/JsonUtils.h"
#include "infrastructure/signing/PinStore.h"
#include "platform/SecureWipe.h"
#include "server/ApiAnswers.h"

namespace velk::server {

namespace {

using core::json;

// pins.dat holds one member per id; a caller must not grow it without bound.
constexpr std::size_t kMaxCertificateIdBytes = 256;

// The PIN, with the body's copy of it wiped.
std::string takePin(json& body) {
    std::string pin = textField(body, "pin");
    if (!pin.empty()) {
        platform::secureWipe(body["pin"].get_ref<std::string&>());
    }
    return pin;
}

}  // namespace

void CertificateRoutes::handleListCertificates(const httplib::Request& /*req*/,
                                               httplib::Response& res) const {
    sendJson(res, 200, json::array());
}

void CertificateRoutes::handleSelectCertificate(const httplib::Request& /*req*/,
                                                httplib::Response& res) const {
    sendJson(res, 200, json{{"status", "selected"}});
}

void CertificateRoutes::handleStorePin(const httplib::Request& req, httplib::Response& res) const {
    const std::string certificateId = req.matches[1];
    if (certificateId.size() > kMaxCertificateIdBytes) {
        sendError(res, 400, "certificate id too long (at most 256 bytes)");
        return;
    }
    json body = parseJsonBody(req);
    std::string pin = takePin(body);
    platform::ScopedWipe wipePin(pin);
    if (pin.empty()) {
        sendError(res, 400, "pin required");
        return;
    }
    if (!signing::PinStore::store(certificateId, pin)) {
        sendError(res, 500, "could not persist pin");
        return;
    }
    res.status = 204;
}

void CertificateRoutes::handleDeletePin(const httplib::Request& req, httplib::Response& res) const {
    // Nothing stored under the id is no error either.
    signing::PinStore::remove(req.matches[1]);
    res.status = 204;
}

}  // namespace velk::server
