#pragma once

#include <string>
#include <string_view>

namespace velk::core::features::vat {

// The agency's public X.509 certificate that its Java client encrypts a VAT
// return for: the DER in standard base64 on one line, no PEM markers. The
// build supplies it (the CMake cache variable VELK_NRA_ENCRYPTION_CERT,
// checked when configuring); while it is empty a filing stops before Java
// starts and says so.
extern const std::string_view kNraEncryptionCertBase64;

// What a filing hands the Java client: kNraEncryptionCertBase64, or the value
// of VELK_TEST_NRA_ENCRYPTION_CERT when that is set (tests, with a stand-in
// client; a WARN line says so).
std::string nraEncryptionCertBase64();

}  // namespace velk::core::features::vat
