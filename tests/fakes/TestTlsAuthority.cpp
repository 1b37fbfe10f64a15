#include "fakes/TestTlsAuthority.h"

#include <openssl/pem.h>

#include <fstream>
#include <stdexcept>

namespace velk::test {

namespace {

template <class Write>
std::string toPem(Write write) {
    platform::BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || write(bio.get()) != 1) {
        throw std::runtime_error("TestTlsAuthority: PEM encoding failed");
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

}  // namespace

TestTlsAuthority::TestTlsAuthority(const TestPki& pki) : pki_(pki), caFile_(dir_.sub("test-ca.pem")) {
    std::ofstream(caFile_, std::ios::binary) << certificatePem(pki_.ca());
}

TlsIdentity TestTlsAuthority::serverIdentity(const std::string& hostName,
                                             bool requireClientCertificate) const {
    CertificateSpec certSpec;
    certSpec.commonName = hostName;
    certSpec.dnsNames = {hostName};
    certSpec.organization = "Test Servers";
    const TestIdentity server = pki_.issue(certSpec);
    TlsIdentity identity;
    identity.certificatePem = certificatePem(server);
    identity.privateKeyPem = privateKeyPem(server);
    if (requireClientCertificate) {
        identity.clientCaPem = certificatePem(pki_.ca());
    }
    return identity;
}

std::string TestTlsAuthority::certificatePem(const TestIdentity& identity) {
    return toPem([&](BIO* bio) { return PEM_write_bio_X509(bio, identity.certificate.get()); });
}

std::string TestTlsAuthority::privateKeyPem(const TestIdentity& identity) {
    return toPem([&](BIO* bio) {
        return PEM_write_bio_PrivateKey(bio, identity.key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
}

}  // namespace velk::test
