#include "fakes/FakeCertStore.h"

#include <fstream>

namespace velk::test {

FakeCertStore::FakeCertStore() : env_("VELK_CERT_STORE_DIR", dir_.str()) {}

std::string FakeCertStore::add(const std::string& name, const TestIdentity& identity, const std::string& pin,
                               bool pinProtected) {
    // The certificate stays readable without the PIN, as the store requires.
    const Der p12 = TestPki::pkcs12(identity, pin, true);
    std::ofstream(dir_.sub(name + ".p12"), std::ios::binary)
        .write(reinterpret_cast<const char*>(p12.data()), static_cast<std::streamsize>(p12.size()));
    std::ofstream(dir_.sub(name + ".json"))
        << R"({"provider": "Microsoft Smart Card Key Storage Provider", "keyApi": "ncrypt", "pinProtected": )"
        << (pinProtected ? "true" : "false") << "}";
    return identity.thumbprint();
}

}  // namespace velk::test
