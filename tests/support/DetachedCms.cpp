#include "support/DetachedCms.h"

#include <openssl/asn1t.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/objects.h>

namespace velk::test {

namespace {

struct AsnSequenceDeleter {
    void operator()(ASN1_SEQUENCE_ANY* seq) const { sk_ASN1_TYPE_pop_free(seq, ASN1_TYPE_free); }
};
using AsnSequencePtr = std::unique_ptr<ASN1_SEQUENCE_ANY, AsnSequenceDeleter>;

AsnSequencePtr decodeSequence(const unsigned char* der, long length) {
    const unsigned char* p = der;
    return AsnSequencePtr(d2i_ASN1_SEQUENCE_ANY(nullptr, &p, length));
}

}  // namespace

std::optional<DetachedCms> DetachedCms::parse(const Bytes& der) {
    platform::BioPtr in(BIO_new_mem_buf(der.data(), static_cast<int>(der.size())));
    platform::CmsPtr cms(in ? d2i_CMS_bio(in.get(), nullptr) : nullptr);
    if (!cms) {
        ERR_clear_error();
        return std::nullopt;
    }
    return DetachedCms(std::move(cms));
}

CMS_SignerInfo* DetachedCms::firstSigner() const {
    STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms_.get());
    return infos != nullptr && sk_CMS_SignerInfo_num(infos) > 0 ? sk_CMS_SignerInfo_value(infos, 0) : nullptr;
}

bool DetachedCms::verify(const Bytes& data, X509_STORE* trust) const {
    platform::BioPtr content(BIO_new_mem_buf(data.empty() ? "" : reinterpret_cast<const char*>(data.data()),
                                             static_cast<int>(data.size())));
    const bool ok = CMS_verify(cms_.get(), nullptr, trust, content.get(), nullptr, CMS_BINARY) == 1;
    ERR_clear_error();
    return ok;
}

int DetachedCms::signedAttributeCount() const {
    CMS_SignerInfo* si = firstSigner();
    const int count = si != nullptr ? CMS_signed_get_attr_count(si) : -1;
    return count < 0 ? 0 : count;
}

std::optional<DetachedCms::Bytes> DetachedCms::signingCertificateV2Der() const {
    CMS_SignerInfo* si = firstSigner();
    if (si == nullptr) {
        return std::nullopt;
    }
    const int index = CMS_signed_get_attr_by_NID(si, NID_id_smime_aa_signingCertificateV2, -1);
    if (index < 0) {
        return std::nullopt;
    }
    X509_ATTRIBUTE* attr = CMS_signed_get_attr(si, index);
    ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attr, 0);
    if (value == nullptr || value->type != V_ASN1_SEQUENCE) {
        return std::nullopt;
    }
    const ASN1_STRING* seq = value->value.sequence;
    const unsigned char* p = ASN1_STRING_get0_data(seq);
    return Bytes(p, p + ASN1_STRING_length(seq));
}

std::optional<DetachedCms::Bytes> DetachedCms::signingCertificateV2Hash() const {
    // SigningCertificateV2 ::= SEQUENCE { certs SEQUENCE OF ESSCertIDv2, ... }
    // ESSCertIDv2 ::= SEQUENCE { hashAlgorithm DEFAULT sha256, certHash OCTET STRING, ... }
    const auto der = signingCertificateV2Der();
    if (!der) {
        return std::nullopt;
    }
    AsnSequencePtr outer = decodeSequence(der->data(), static_cast<long>(der->size()));
    if (!outer || sk_ASN1_TYPE_num(outer.get()) < 1) {
        return std::nullopt;
    }
    const ASN1_TYPE* certs = sk_ASN1_TYPE_value(outer.get(), 0);
    if (certs->type != V_ASN1_SEQUENCE) {
        return std::nullopt;
    }
    AsnSequencePtr certList = decodeSequence(certs->value.sequence->data, certs->value.sequence->length);
    if (!certList || sk_ASN1_TYPE_num(certList.get()) < 1) {
        return std::nullopt;
    }
    const ASN1_TYPE* first = sk_ASN1_TYPE_value(certList.get(), 0);
    if (first->type != V_ASN1_SEQUENCE) {
        return std::nullopt;
    }
    AsnSequencePtr certId = decodeSequence(first->value.sequence->data, first->value.sequence->length);
    if (!certId) {
        return std::nullopt;
    }
    for (int i = 0; i < sk_ASN1_TYPE_num(certId.get()); ++i) {
        const ASN1_TYPE* item = sk_ASN1_TYPE_value(certId.get(), i);
        if (item->type == V_ASN1_OCTET_STRING) {
            const unsigned char* p = ASN1_STRING_get0_data(item->value.octet_string);
            return Bytes(p, p + ASN1_STRING_length(item->value.octet_string));
        }
        if (item->type != V_ASN1_SEQUENCE) {
            return std::nullopt;  // neither a hash algorithm nor the hash
        }
    }
    return std::nullopt;
}

bool DetachedCms::digestAlgorithmHasNullParameter() const {
    CMS_SignerInfo* si = firstSigner();
    if (si == nullptr) {
        return false;
    }
    X509_ALGOR* digest = nullptr;
    CMS_SignerInfo_get0_algs(si, nullptr, nullptr, &digest, nullptr);
    if (digest == nullptr) {
        return false;
    }
    int paramType = V_ASN1_UNDEF;
    const void* param = nullptr;
    X509_ALGOR_get0(nullptr, &paramType, &param, digest);
    return paramType == V_ASN1_NULL;
}

bool DetachedCms::hasEmbeddedContent() const {
    ASN1_OCTET_STRING** content = CMS_get0_content(cms_.get());
    return content != nullptr && *content != nullptr;
}

DetachedCms::Bytes DetachedCms::firstCertificateDer() const {
    STACK_OF(X509)* certs = CMS_get1_certs(cms_.get());
    Bytes out;
    if (certs != nullptr && sk_X509_num(certs) > 0) {
        X509* cert = sk_X509_value(certs, 0);
        const int len = i2d_X509(cert, nullptr);
        out.resize(static_cast<std::size_t>(len));
        unsigned char* p = out.data();
        i2d_X509(cert, &p);
    }
    sk_X509_pop_free(certs, X509_free);
    return out;
}

}  // namespace velk::test
