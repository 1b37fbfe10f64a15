#include "features/vat/NraEncryptionCert.h"

#include <cstdlib>

#include "common/Logger.h"

namespace velk::core::features::vat {

// kNraEncryptionCertBase64 is defined in the source that configuring writes
// from VELK_NRA_ENCRYPTION_CERT (cmake/NraEncryptionCert.cmake).

std::string nraEncryptionCertBase64() {
    const char* override = std::getenv("VELK_TEST_NRA_ENCRYPTION_CERT");
    if (override != nullptr && override[0] != '\0') {
        logLine(LogLevel::Warn, "VELK_TEST_NRA_ENCRYPTION_CERT replaces the agency's encryption certificate");
        return override;
    }
    return std::string(kNraEncryptionCertBase64);
}

}  // namespace velk::core::features::vat
