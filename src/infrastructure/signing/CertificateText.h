#pragma once

#include <string>

#include <openssl/x509.h>

#include "infrastructure/signing/CertificateInfo.h"

namespace velk::signing {

// Texts of a certificate as both signers list them.

// RFC 2253 order, ", " between components, non-ASCII characters as raw UTF-8
// (not escaped): "CN=Иван Петров, O=Фирма, C=BG".
std::string certificateNameText(const X509_NAME* name);

// "2025-03-01T08:05:00Z" in UTC; empty when missing or not convertible.
std::string certificateTimeText(const ASN1_TIME* time);

// The serial number's encoded bytes in upper-case hexadecimal, leading zero
// bytes kept (as the certificate store keeps them).
std::string serialEncodedHex(const X509* certificate);

// The serial number as a number in upper-case hexadecimal: no leading zeros,
// a minus sign for a negative one.
std::string serialNumberHex(const X509* certificate);

// Fills subject, issuer and the validity texts.
void fillNamesAndValidity(const X509* certificate, CertificateInfo& info);

}  // namespace velk::signing
