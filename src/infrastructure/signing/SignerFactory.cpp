#include "infrastructure/signing/SignerFactory.h"

#include <cstdlib>

#include "common/Logger.h"
#include "infrastructure/signing/SignerPkcs11.h"
#include "infrastructure/signing/SignerWin.h"

namespace velk::signing {

std::unique_ptr<ISigner> SignerFactory::create(SignerKind kind, const std::string& modulePath) {
    if (kind == SignerKind::Pkcs11) {
        return std::make_unique<SignerPkcs11>(modulePath);
    }
    const char* module = std::getenv("VELK_PKCS11_MODULE");
    if (module != nullptr && module[0] != '\0') {
        core::logLine(
            core::LogLevel::Info,
            std::string("SignerFactory: VELK_PKCS11_MODULE set, using PKCS#11 signer (") + module + ")");
        return std::make_unique<SignerPkcs11>(module);
    }
    return std::make_unique<SignerWin>();
}

}  // namespace velk::signing
