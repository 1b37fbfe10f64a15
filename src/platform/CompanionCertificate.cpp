#include "platform/CompanionCertificate.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include "platform/RegularFile.h"

namespace velk::platform {

namespace {

// A certificate chain in PEM stays far below this; anything larger is not one.
constexpr std::uint64_t kMaxFileBytes = 1024 * 1024;

constexpr const char* kExtensions[] = {".crt", ".cer", ".pem"};

// The first certificate of a PEM text (other blocks are skipped), else the
// bytes as one DER certificate with nothing after it.
X509Ptr parseCertificate(const std::string& bytes) {
    if (bytes.empty()) {
        return {};
    }
    BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    X509Ptr cert(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!cert) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        cert.reset(d2i_X509(nullptr, &p, static_cast<long>(bytes.size())));
        if (cert && p != reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size()) {
            cert.reset();
        }
    }
    ERR_clear_error();
    return cert;
}

}  // namespace

CompanionCertificate CompanionCertificate::find(const std::filesystem::path& pkcs12Path) {
    CompanionCertificate companion;
    for (const char* extension : kExtensions) {
        std::filesystem::path candidate = pkcs12Path;
        candidate.replace_extension(extension);
        std::error_code ec;
        if (!std::filesystem::exists(candidate, ec)) {
            continue;
        }
        // Only a regular file, never waiting on a FIFO, and bounded.
        std::string bytes;
        if (readWholeRegularFile(candidate, bytes, kMaxFileBytes) != WholeFileStatus::Read || bytes.empty()) {
            if (companion.unusablePath.empty()) {
                companion.unusablePath = candidate.string();
            }
            continue;
        }
        companion.path = candidate.string();
        companion.certificate = parseCertificate(bytes);
        return companion;
    }
    return companion;
}

std::string CompanionCertificate::preferredPath(const std::filesystem::path& pkcs12Path) {
    std::filesystem::path path = pkcs12Path;
    path.replace_extension(kExtensions[0]);
    return path.string();
}

}  // namespace velk::platform
