#pragma once

#include <httplib.h>

namespace velk::server {

// The certificate routes of the local API: the certificate list and choice,
// which the API does not serve (fixed answers), and the smart-card PINs
// remembered per certificate id in the PIN store.
class CertificateRoutes {
public:
    // GET /api/certificates: always [].
    void handleListCertificates(const httplib::Request& req, httplib::Response& res) const;
    // POST /api/certificates/{id}/select: changes nothing.
    void handleSelectCertificate(const httplib::Request& req, httplib::Response& res) const;
    // POST /api/certificates/{id}/pin; ids over 256 bytes are refused.
    void handleStorePin(const httplib::Request& req, httplib::Response& res) const;
    // DELETE /api/certificates/{id}/pin
    void handleDeletePin(const httplib::Request& req, httplib::Response& res) const;
};

}  // namespace velk::server
