#pragma once

#include <memory>
#include <string>

#include "infrastructure/signing/ISigner.h"

namespace velk::signing {

// Auto: the environment decides; Pkcs11: PKCS#11 over the given module. Any
// other value behaves as Auto.
enum class SignerKind : int { Auto = 0, Pkcs11 = 1 };

// Makes the process's one signer: PKCS#11 when asked for or when
// VELK_PKCS11_MODULE names a module, otherwise the certificate-store signer.
// Never fails; a module that does not load shows up later as empty results.
class SignerFactory {
public:
    static std::unique_ptr<ISigner> create(SignerKind kind, const std::string& modulePath);
};

}  // namespace velk::signing
