#pragma once

#include <string>
#include <string_view>

namespace velk::core::infra::http {

// "<decimal slot>:<even number of hex digits>", the PKCS#11 signer's
// certificate id (0:A1B2 yes; :A1B2, 0:, 0:ABC and x:AB no).
bool isPkcs11SlotId(std::string_view id);

// A PKCS#11 URI ("pkcs11:", lower case) or a slot id; anything else names a
// certificate of the certificate store.
bool isPkcs11CertificateId(std::string_view id);

// The pkcs11 engine's key reference of a slot id: 3:0a1b gives slot_3-id_0a1b.
std::string pkcs11EngineKeyId(std::string_view id);

}  // namespace velk::core::infra::http
