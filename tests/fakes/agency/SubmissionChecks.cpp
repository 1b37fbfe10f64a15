#include "fakes/agency/SubmissionChecks.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <zlib.h>

#include <array>

#include "support/DetachedCms.h"

namespace velk::test {

namespace {

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

Bytes sha256(const Bytes& data) {
    Bytes digest(32);
    unsigned int size = 0;
    EVP_Digest(data.data(), data.size(), digest.data(), &size, EVP_sha256(), nullptr);
    digest.resize(size);
    return digest;
}

// The CMS parsed and verified over the content, or why not.
std::optional<DetachedCms> verifiedCms(const Bytes& cms, const Bytes& content, const TestPki& pki,
                                       std::string& problem) {
    std::optional<DetachedCms> parsed = DetachedCms::parse(cms);
    if (!parsed) {
        problem = "the signature is no CMS";
        return std::nullopt;
    }
    if (parsed->hasEmbeddedContent()) {
        problem = "the signature is not detached";
        return std::nullopt;
    }
    if (!parsed->verify(content, pki.trustStore().get())) {
        problem = "the signature does not verify over the content";
        return std::nullopt;
    }
    return parsed;
}

}  // namespace

std::optional<Bytes> decodeStrictBase64(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    Bytes out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        std::array<int, 4> v{};
        int padding = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            if (c == '=' && last && k >= 2) {
                ++padding;
                v[k] = 0;
                continue;
            }
            if (padding > 0 || (v[k] = base64Value(c)) < 0) {
                return std::nullopt;
            }
        }
        const std::uint32_t triple =
            (static_cast<std::uint32_t>(v[0]) << 18) | (static_cast<std::uint32_t>(v[1]) << 12) |
            (static_cast<std::uint32_t>(v[2]) << 6) | static_cast<std::uint32_t>(v[3]);
        out.push_back(static_cast<std::uint8_t>(triple >> 16));
        if (padding < 2) {
            out.push_back(static_cast<std::uint8_t>(triple >> 8));
        }
        if (padding < 1) {
            out.push_back(static_cast<std::uint8_t>(triple));
        }
    }
    return out;
}

std::optional<Bytes> gunzipMember(const Bytes& member) {
    z_stream zs{};
    if (inflateInit2(&zs, 16 + MAX_WBITS) != Z_OK) {
        return std::nullopt;
    }
    Bytes out;
    std::array<std::uint8_t, 16384> chunk{};
    zs.next_in = const_cast<Bytef*>(member.data());
    zs.avail_in = static_cast<uInt>(member.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
        zs.next_out = chunk.data();
        zs.avail_out = static_cast<uInt>(chunk.size());
        rc = inflate(&zs, Z_NO_FLUSH);
        out.insert(out.end(), chunk.data(), chunk.data() + (chunk.size() - zs.avail_out));
        if (rc == Z_BUF_ERROR && zs.avail_in == 0) {
            break;  // truncated
        }
    }
    const bool complete = rc == Z_STREAM_END && zs.avail_in == 0;
    inflateEnd(&zs);
    return complete ? std::optional<Bytes>(std::move(out)) : std::nullopt;
}

std::string crlfProblem(const Bytes& content) {
    if (content.size() >= 3 && content[0] == 0xEF && content[1] == 0xBB && content[2] == 0xBF) {
        return "the content starts with a byte-order mark";
    }
    for (std::size_t i = 0; i < content.size(); ++i) {
        if (content[i] == '\r' && (i + 1 == content.size() || content[i + 1] != '\n')) {
            return "a CR without LF at byte " + std::to_string(i);
        }
        if (content[i] == '\n' && (i == 0 || content[i - 1] != '\r')) {
            return "a LF without CR at byte " + std::to_string(i);
        }
    }
    return {};
}

std::string portalSignatureProblem(const Bytes& cms, const Bytes& content, const TestPki& pki,
                                   const std::string& signerSubject) {
    std::string problem;
    const std::optional<DetachedCms> parsed = verifiedCms(cms, content, pki, problem);
    if (!parsed) {
        return problem;
    }
    const Bytes certificate = parsed->firstCertificateDer();
    if (parsed->signingCertificateV2Hash() != std::optional<Bytes>(sha256(certificate))) {
        return "no signingCertificateV2 naming the signer's certificate";
    }
    if (certificateSubject(certificate) != signerSubject) {
        return "signed by " + certificateSubject(certificate) + ", logged in as " + signerSubject;
    }
    return {};
}

std::string restSignatureProblem(const Bytes& cms, const Bytes& content, const TestPki& pki,
                                 const Bytes& certificateDer) {
    std::string problem;
    const std::optional<DetachedCms> parsed = verifiedCms(cms, content, pki, problem);
    if (!parsed) {
        return problem;
    }
    if (parsed->firstCertificateDer() != certificateDer) {
        return "signed with another certificate than userSignatureBase64";
    }
    return {};
}

std::string certificateSubject(const Bytes& certificateDer) {
    const unsigned char* p = certificateDer.data();
    platform::X509Ptr certificate(d2i_X509(nullptr, &p, static_cast<long>(certificateDer.size())));
    if (!certificate) {
        return {};
    }
    platform::BioPtr out(BIO_new(BIO_s_mem()));
    X509_NAME_print_ex(out.get(), X509_get_subject_name(certificate.get()), 0,
                       XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long size = BIO_get_mem_data(out.get(), &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

}  // namespace velk::test
