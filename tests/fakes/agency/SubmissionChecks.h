#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/TestPki.h"

namespace velk::test {

// What the fake agency verifies in a filing before it accepts it. Each
// "problem" function returns why the agency would refuse, or "" when it would
// not.

using Bytes = std::vector<std::uint8_t>;

// Canonical base64 only (the alphabet, '=' padding, length a multiple of 4).
std::optional<Bytes> decodeStrictBase64(std::string_view text);

// One complete gzip member; nothing when the bytes are not one.
std::optional<Bytes> gunzipMember(const Bytes& member);

// The portal takes text with CR LF line ends only and no byte-order mark.
std::string crlfProblem(const Bytes& content);

// A portal signature: a detached CMS over content that verifies against the
// test CA, with a signingCertificateV2 attribute naming its certificate,
// whose subject (RFC 2253, as TestServer records it) is signerSubject.
std::string portalSignatureProblem(const Bytes& cms, const Bytes& content, const TestPki& pki,
                                   const std::string& signerSubject);

// A REST API signature: a detached CMS over content that verifies against
// the test CA, signed with exactly this certificate.
std::string restSignatureProblem(const Bytes& cms, const Bytes& content, const TestPki& pki,
                                 const Bytes& certificateDer);

// The certificate's subject as TestServer records a client's; "" when the
// bytes are no certificate.
std::string certificateSubject(const Bytes& certificateDer);

}  // namespace velk::test
