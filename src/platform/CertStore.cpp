#include "platform/CertStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>

#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/sha.h>
#include <nlohmann/json.hpp>

#include "common/JsonUtils.h"
#include "common/Logger.h"
#include "common/TextUtils.h"
#include "platform/AppPaths.h"
#include "platform/CompanionCertificate.h"
#include "platform/LegacyPkcs12Algorithms.h"
#include "platform/OpenSslPtr.h"
#include "platform/RegularFile.h"

namespace velk::platform {

namespace {

using core::LogLevel;
using core::logLine;

struct SafeBagsDeleter {
    void operator()(STACK_OF(PKCS12_SAFEBAG) * bags) const {
        sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
    }
};
using SafeBagsPtr = std::unique_ptr<STACK_OF(PKCS12_SAFEBAG), SafeBagsDeleter>;

struct AuthSafesDeleter {
    void operator()(STACK_OF(PKCS7) * safes) const { sk_PKCS7_pop_free(safes, PKCS7_free); }
};
using AuthSafesPtr = std::unique_ptr<STACK_OF(PKCS7), AuthSafesDeleter>;

// The store is read on every use of a certificate: a file's problem is told
// once per process, not on every reading.
void warnOnce(const std::string& line) {
    static std::mutex mutex;
    static std::set<std::string> told;
    {
        std::lock_guard lock(mutex);
        if (!told.insert(line).second) {
            return;
        }
    }
    logLine(LogLevel::Warn, line);
}

// A file name from the folder, fit for a log line.
std::string shown(const std::filesystem::path& path) {
    return core::loggableText(path.string());
}

// A PKCS#12 file with its chain stays far below this; the sidecar too.
constexpr std::uint64_t kMaxStoreFileBytes = 4 * 1024 * 1024;

// Only a regular file is read, never waiting on a FIFO, and within the bound;
// anything else is told once with its path.
bool readStoreFile(const std::filesystem::path& path, std::string& out) {
    switch (readWholeRegularFile(path, out, kMaxStoreFileBytes)) {
        case WholeFileStatus::Read:
            return true;
        case WholeFileStatus::TooLarge:
            warnOnce("CertStore: larger than 4 MiB, not read: " + shown(path));
            return false;
        case WholeFileStatus::Unreadable:
            break;
    }
    warnOnce("CertStore: cannot read " + shown(path));
    return false;
}

std::string localKeyId(const PKCS12_SAFEBAG* bag) {
    const ASN1_TYPE* attr = PKCS12_SAFEBAG_get0_attr(bag, NID_localKeyID);
    if (attr == nullptr || attr->type != V_ASN1_OCTET_STRING) {
        return {};
    }
    const ASN1_OCTET_STRING* id = attr->value.octet_string;
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(id)),
                       static_cast<std::size_t>(ASN1_STRING_length(id)));
}

// What a PKCS#12 file shows without its PIN: its certificates and whether it
// holds a key. Encrypted parts are opened only when the file is not
// PIN-protected (then with the empty password).
struct Pkcs12Contents {
    std::vector<std::pair<std::string, X509Ptr>> certificates;  // local key id, certificate
    std::vector<std::string> keyIds;
    bool hasKey = false;
};

const char* emptyPassword(PKCS12* p12) {
    // Files made "without a password" use either no password or the empty
    // one; the MAC tells which.
    if (!PKCS12_mac_present(p12) || PKCS12_verify_mac(p12, nullptr, 0) == 1) {
        return nullptr;
    }
    return "";
}

// Whether the file opens, its MAC and its key, with no or the empty password;
// a file that does not is PIN-protected, whatever its sidecar says.
bool opensWithoutPassword(PKCS12* p12) {
    for (const char* password : {static_cast<const char*>(nullptr), ""}) {
        EVP_PKEY* key = nullptr;
        X509* cert = nullptr;
        STACK_OF(X509)* chain = nullptr;
        const int ok = PKCS12_parse(p12, password, &key, &cert, &chain);
        EVP_PKEY_free(key);
        X509_free(cert);
        sk_X509_pop_free(chain, X509_free);
        if (ok == 1) {
            ERR_clear_error();
            return true;
        }
    }
    ERR_clear_error();
    return false;
}

void collectBags(STACK_OF(PKCS12_SAFEBAG) * bags, Pkcs12Contents& contents) {
    for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
        const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
        switch (PKCS12_SAFEBAG_get_nid(bag)) {
            case NID_certBag:
                if (PKCS12_SAFEBAG_get_bag_nid(bag) == NID_x509Certificate) {
                    if (X509* cert = PKCS12_SAFEBAG_get1_cert(bag)) {
                        contents.certificates.emplace_back(localKeyId(bag), X509Ptr(cert));
                    }
                }
                break;
            case NID_keyBag:
            case NID_pkcs8ShroudedKeyBag:
                contents.hasKey = true;
                contents.keyIds.push_back(localKeyId(bag));
                break;
            default:
                break;
        }
    }
}

Pkcs12Contents readContents(PKCS12* p12, bool pinProtected) {
    Pkcs12Contents contents;
    AuthSafesPtr safes(PKCS12_unpack_authsafes(p12));
    if (!safes) {
        return contents;
    }
    const char* password = pinProtected ? nullptr : emptyPassword(p12);
    for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
        PKCS7* p7 = sk_PKCS7_value(safes.get(), i);
        SafeBagsPtr bags;
        if (PKCS7_type_is_data(p7)) {
            bags.reset(PKCS12_unpack_p7data(p7));
        } else if (PKCS7_type_is_encrypted(p7) && !pinProtected) {
            bags.reset(PKCS12_unpack_p7encdata(p7, password, 0));  // no or empty password
        }
        if (bags) {
            collectBags(bags.get(), contents);
        }
    }
    return contents;
}

// The certificate that belongs to the key (same local key id), else the first.
X509* entityCertificate(const Pkcs12Contents& contents) {
    for (const auto& keyId : contents.keyIds) {
        if (keyId.empty()) {
            continue;
        }
        for (const auto& [certKeyId, cert] : contents.certificates) {
            if (certKeyId == keyId) {
                return cert.get();
            }
        }
    }
    return contents.certificates.empty() ? nullptr : contents.certificates.front().second.get();
}

KeyProviderInfo readSidecar(const std::filesystem::path& p12Path) {
    KeyProviderInfo info{CertStore::kSoftwareProvider, KeyApi::NCrypt, false};
    std::filesystem::path sidecar = p12Path;
    sidecar.replace_extension(".json");
    std::error_code ec;
    std::string text;
    if (!std::filesystem::exists(sidecar, ec) || !readStoreFile(sidecar, text)) {
        return info;
    }
    try {
        const nlohmann::json doc = core::parseExternalJson(text);
        info.providerName = doc.value("provider", info.providerName);
        info.keyApi = doc.value("keyApi", std::string("ncrypt")) == "capi" ? KeyApi::Capi : KeyApi::NCrypt;
        info.pinProtected = doc.value("pinProtected", false);
    } catch (const nlohmann::json::exception& e) {
        logLine(LogLevel::Warn, "CertStore: ignoring malformed " +
                                    core::escapeControlBytes(sidecar.string()) + ": " +
                                    core::escapeControlBytes(e.what()));
        return KeyProviderInfo{CertStore::kSoftwareProvider, KeyApi::NCrypt, false};
    }
    return info;
}

// Whether the file's encrypted certificates use the 40-bit RC2 of older
// exports, which openssl reads only when told -legacy.
bool hasLegacyCertificates(PKCS12* p12) {
    AuthSafesPtr safes(PKCS12_unpack_authsafes(p12));
    for (int i = 0; safes && i < sk_PKCS7_num(safes.get()); ++i) {
        PKCS7* p7 = sk_PKCS7_value(safes.get(), i);
        if (PKCS7_type_is_encrypted(p7) && p7->d.encrypted != nullptr &&
            p7->d.encrypted->enc_data != nullptr && p7->d.encrypted->enc_data->algorithm != nullptr &&
            OBJ_obj2nid(p7->d.encrypted->enc_data->algorithm->algorithm) == NID_pbe_WithSHA1And40BitRC2_CBC) {
            return true;
        }
    }
    ERR_clear_error();
    return false;
}

// The certificate of a PIN-protected file whose own certificates are
// encrypted: its companion file, else nothing (with the WARN line that says
// how to make one). An empty or unreadable companion, as a failed export
// leaves behind, is no companion.
X509Ptr companionOf(const std::filesystem::path& path, PKCS12* p12, std::string& companionPath) {
    CompanionCertificate companion = CompanionCertificate::find(path);
    if (companion.path.empty()) {
        const std::string wanted =
            shown(companion.unusablePath.empty() ? CompanionCertificate::preferredPath(path)
                                                 : companion.unusablePath);
        const std::string legacy = hasLegacyCertificates(p12) ? " -legacy" : "";
        warnOnce("CertStore: the certificates in " + shown(path) +
                 " are encrypted with its PIN and cannot be listed without it; put its certificate beside "
                 "it as " +
                 wanted + " (PEM or DER, also .cer or .pem), e.g. openssl pkcs12" + legacy + " -in " +
                 shown(path) + " -clcerts -nokeys -out " + wanted);
        return {};
    }
    if (!companion.certificate) {
        warnOnce("CertStore: not a certificate: " + shown(companion.path));
        return {};
    }
    companionPath = companion.path;
    return std::move(companion.certificate);
}

std::optional<StoreCertificate> readEntry(const std::filesystem::path& path) {
    StoreCertificate entry;
    entry.path = path.string();
    std::string bytes;
    if (!readStoreFile(path, bytes)) {
        return std::nullopt;
    }
    entry.pkcs12.assign(bytes.begin(), bytes.end());
    const unsigned char* p = entry.pkcs12.data();
    Pkcs12Ptr p12(d2i_PKCS12(nullptr, &p, static_cast<long>(entry.pkcs12.size())));
    if (!p12) {
        logLine(LogLevel::Warn, "CertStore: not a PKCS#12 file: " + core::escapeControlBytes(entry.path));
        return std::nullopt;
    }
    const bool needsPin = !opensWithoutPassword(p12.get());
    KeyProviderInfo provider = readSidecar(path);
    provider.pinProtected = provider.pinProtected || needsPin;
    const Pkcs12Contents contents = readContents(p12.get(), needsPin);
    X509* cert = entityCertificate(contents);
    X509Ptr companion;
    if (cert == nullptr && needsPin && contents.hasKey) {
        companion = companionOf(path, p12.get(), entry.companionPath);
        if (!companion) {
            return std::nullopt;
        }
        cert = companion.get();
    }
    if (cert == nullptr) {
        logLine(LogLevel::Warn,
                "CertStore: no readable certificate in " + core::escapeControlBytes(entry.path));
        return std::nullopt;
    }
    const int len = i2d_X509(cert, nullptr);
    if (len <= 0) {
        return std::nullopt;
    }
    entry.der.resize(static_cast<std::size_t>(len));
    unsigned char* out = entry.der.data();
    i2d_X509(cert, &out);
    SHA1(entry.der.data(), entry.der.size(), entry.sha1.data());
    if (contents.hasKey) {
        entry.keyProvider = provider;
    }
    return entry;
}

bool isPkcs12Name(const std::filesystem::path& path) {
    const std::string ext = path.extension().string();
    return ext == ".p12" || ext == ".pfx";
}

}  // namespace

std::string CertStore::directory() {
    if (const char* dir = std::getenv("VELK_CERT_STORE_DIR"); dir != nullptr && dir[0] != '\0') {
        return dir;
    }
    const std::string data = dataDir();
    return data.empty() ? std::string() : joinPath(data, "certstore/MY");
}

std::optional<CertStore> CertStore::openMy(int& error) {
    error = 0;
    const std::string dir = directory();
    if (dir.empty()) {
        error = ENOENT;
        return std::nullopt;
    }
    loadLegacyPkcs12Algorithms();
    CertStore store;
    std::error_code ec;
    if (!std::filesystem::exists(dir, ec)) {
        return store;
    }
    std::vector<std::filesystem::path> files;
    std::filesystem::directory_iterator it(dir, ec);
    if (ec) {
        error = ec.value();
        return std::nullopt;
    }
    // The non-throwing increment: a folder that fails part-way is read as far as it goes.
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec) {
            break;
        }
        // Any kind of entry by that name is tried: one that is no regular
        // file is told as unreadable rather than passed over in silence.
        const auto& item = *it;
        if (isPkcs12Name(item.path()) && !item.is_directory(ec)) {
            files.push_back(item.path());
        }
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        if (auto entry = readEntry(file)) {
            store.certificates_.push_back(std::move(*entry));
        }
    }
    return store;
}

const StoreCertificate* CertStore::findBySha1(std::span<const std::uint8_t> sha1) const {
    if (sha1.size() != 20) {
        return nullptr;
    }
    for (const auto& cert : certificates_) {
        if (std::equal(cert.sha1.begin(), cert.sha1.end(), sha1.begin())) {
            return &cert;
        }
    }
    return nullptr;
}

}  // namespace velk::platform
