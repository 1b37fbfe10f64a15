#include "infrastructure/signing/CertificateText.h"

#include <cstdio>
#include <ctime>

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>

#include "infrastructure/signing/HexText.h"
#include "platform/OpenSslPtr.h"

namespace velk::signing {

using platform::BignumPtr;
using platform::BioPtr;

std::string certificateNameText(const X509_NAME* name) {
    if (name == nullptr) {
        return {};
    }
    // X509_NAME_oneline and plain RFC 2253 printing escape every byte above
    // 0x7F; Cyrillic names must come out readable.
    constexpr unsigned long kFlags = (ASN1_STRFLGS_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) | XN_FLAG_SEP_CPLUS_SPC |
                                     XN_FLAG_DN_REV | XN_FLAG_FN_SN | XN_FLAG_DUMP_UNKNOWN_FIELDS;
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0, kFlags) < 0) {
        return {};
    }
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio.get(), &data);
    return len > 0 ? std::string(data, static_cast<std::size_t>(len)) : std::string();
}

std::string certificateTimeText(const ASN1_TIME* time) {
    std::tm tm{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1) {
        return {};
    }
    char buffer[80];  // room for any int, so nothing is cut
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buffer;
}

std::string serialEncodedHex(const X509* certificate) {
    const ASN1_INTEGER* serial = X509_get0_serialNumber(certificate);
    unsigned char* der = nullptr;
    const int len = serial != nullptr ? i2d_ASN1_INTEGER(serial, &der) : -1;
    if (len <= 2) {
        OPENSSL_free(der);
        return {};
    }
    // Skip the INTEGER tag and its length (short or long form).
    std::size_t offset = 2;
    if (der[1] & 0x80) {
        offset += der[1] & 0x7F;
    }
    Bytes content;
    if (offset < static_cast<std::size_t>(len)) {
        content.assign(der + offset, der + len);
    }
    OPENSSL_free(der);
    return hexEncode(content);
}

std::string serialNumberHex(const X509* certificate) {
    BignumPtr bn(ASN1_INTEGER_to_BN(X509_get0_serialNumber(certificate), nullptr));
    if (!bn) {
        return {};
    }
    char* hex = BN_bn2hex(bn.get());
    if (hex == nullptr) {
        return {};
    }
    std::string out(hex);
    OPENSSL_free(hex);
    return out;
}

void fillNamesAndValidity(const X509* certificate, CertificateInfo& info) {
    info.subject = certificateNameText(X509_get_subject_name(certificate));
    info.issuer = certificateNameText(X509_get_issuer_name(certificate));
    info.notBefore = certificateTimeText(X509_get0_notBefore(certificate));
    info.notAfter = certificateTimeText(X509_get0_notAfter(certificate));
}

}  // namespace velk::signing
