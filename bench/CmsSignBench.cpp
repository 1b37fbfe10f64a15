// One detached CMS signature with an RSA-2048 key on a SoftHSM2 token: the
// agent's PKCS#11 signer beside `openssl cms -sign` with the same key through
// the pkcs11 engine (libp11), signatures a second for both. openssl is one
// process a signature (start, module load, login and sign), so the agent's
// signer is measured both warm (one signer, as the running agent keeps it)
// and cold (a new signer, its module loaded and the token logged in, for
// every signature).
#include <openssl/pem.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "BenchFiles.h"
#include "BenchReport.h"
#include "infrastructure/signing/SignerPkcs11.h"
#include "support/SoftHsmToken.h"
#include "support/TestPki.h"

namespace {

using namespace velk::bench;

constexpr int kWarmSignatures = 200;
constexpr int kColdSignatures = 20;
constexpr int kOpensslSignatures = 20;
const std::vector<std::uint8_t> kCkaId = {0x42};

void writeCertificatePem(const std::string& path, X509* certificate) {
    std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(path.c_str(), "w"), std::fclose);
    if (!out || PEM_write_X509(out.get(), certificate) != 1) {
        throw std::runtime_error("cannot write " + path);
    }
}

}  // namespace

int main() {
    const std::string module = velk::test::SoftHsmToken::modulePath();
    if (module.empty()) {
        std::fprintf(stderr, "SoftHSM2 is not installed\n");
        return 1;
    }
    const velk::test::TestPki pki;
    const velk::test::TestIdentity user = pki.issue();
    velk::test::SoftHsmToken token;
    token.addIdentity(user, kCkaId);
    const std::string id = token.certificateId(kCkaId);

    const ScratchDir dir("velk-cms-bench-");
    const std::string dataPath = (dir.path() / "data.xml").string();
    const std::string certPath = (dir.path() / "signer.pem").string();
    const std::string data(16 * 1024, 'x');
    writeFile(dataPath, data);
    writeCertificatePem(certPath, user.certificate.get());
    const velk::signing::Bytes bytes(data.begin(), data.end());

    velk::signing::SignerPkcs11 warm(module);
    if (warm.signData(bytes, id, token.userPin()).empty()) {
        std::fprintf(stderr, "the signer made no signature\n");
        return 1;
    }
    const double warmSeconds = bestSeconds(3,
                                           [&] {
                                               for (int i = 0; i < kWarmSignatures; ++i) {
                                                   warm.signData(bytes, id, token.userPin());
                                               }
                                           }) /
                               kWarmSignatures;
    const double coldSeconds = bestSeconds(3,
                                           [&] {
                                               for (int i = 0; i < kColdSignatures; ++i) {
                                                   velk::signing::SignerPkcs11 cold(module);
                                                   cold.signData(bytes, id, token.userPin());
                                               }
                                           }) /
                               kColdSignatures;

    // The engine finds the module through PKCS11_MODULE_PATH; SOFTHSM2_CONF
    // is already the token's.
    ::setenv("PKCS11_MODULE_PATH", module.c_str(), 1);
    const std::string command =
        "openssl cms -sign -binary -nosmimecap -md sha256 -engine pkcs11 -keyform engine"
        " -inkey 'pkcs11:token=" +
        token.label() + ";id=%42;type=private;pin-value=" + token.userPin() + "' -signer '" + certPath +
        "' -in '" + dataPath + "' -outform DER -out '" + (dir.path() / "data.p7s").string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0 || !std::filesystem::exists(dir.path() / "data.p7s")) {
        std::fprintf(stderr, "openssl cms -sign through the pkcs11 engine failed: %s\n", command.c_str());
        return 1;
    }
    const double opensslSeconds = bestSeconds(3,
                                              [&] {
                                                  for (int i = 0; i < kOpensslSignatures; ++i) {
                                                      std::system(command.c_str());
                                                  }
                                              }) /
                                  kOpensslSignatures;

    std::printf("per signature: signer warm %.2f ms, signer cold %.2f ms, openssl cms -sign %.2f ms\n",
                warmSeconds * 1e3, coldSeconds * 1e3, opensslSeconds * 1e3);
    printRow("CMS sign, SoftHSM, warm signer vs openssl cms", 1 / warmSeconds, 1 / opensslSeconds, "sig/s",
             "");
    printRow("CMS sign, SoftHSM, cold signer vs openssl cms", 1 / coldSeconds, 1 / opensslSeconds, "sig/s",
             "");
    return 0;
}
