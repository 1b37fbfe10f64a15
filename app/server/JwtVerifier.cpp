#include "server/JwtVerifier.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <climits>

namespace velk::server {

namespace {

using core::json;

// Any JSON value in the token of a type the local API cannot read. The token
// comes from any caller, so this is an answer, never an exception.
constexpr const char* kMalformed = "malformed token";

struct EvpMdCtxDeleter {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Deleter {
    void operator()(X509* cert) const { X509_free(cert); }
};

struct TokenParts {
    std::string_view header;
    std::string_view payload;
    std::string_view signature;
    std::string_view signingInput;
};

// Empty text when the token has its three parts; the signature part keeps any
// further dots.
std::string splitToken(std::string_view token, TokenParts& parts) {
    const std::size_t first = token.find('.');
    if (first == std::string_view::npos) {
        return "malformed JWT (no first dot)";
    }
    const std::size_t second = token.find('.', first + 1);
    if (second == std::string_view::npos) {
        return "malformed JWT (no second dot)";
    }
    parts.header = token.substr(0, first);
    parts.payload = token.substr(first + 1, second - first - 1);
    parts.signature = token.substr(second + 1);
    parts.signingInput = token.substr(0, second);
    return {};
}

// Strict parse; empty text on success, else the library's message.
std::string parseJson(const std::vector<std::uint8_t>& bytes, json& out) {
    try {
        out = core::parseExternalJson(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        return {};
    } catch (const json::exception& e) {
        // Besides syntax errors this catches a number too large for a double
        // and nesting deeper than the bounded reader allows.
        return e.what();
    }
}

// Empty text when the header allows RS256 verification.
std::string checkHeader(const json& header) {
    if (!header.is_object()) {
        return kMalformed;
    }
    const auto alg = header.find("alg");
    if (alg != header.end() && !alg->is_string()) {
        return kMalformed;
    }
    if (alg == header.end() || alg->get_ref<const std::string&>() != "RS256") {
        return "unsupported alg (only RS256 is accepted)";
    }
    const auto typ = header.find("typ");
    if (typ != header.end()) {
        if (!typ->is_string()) {
            return kMalformed;
        }
        if (typ->get_ref<const std::string&>() != "JWT") {
            return "unsupported typ (expected JWT)";
        }
    }
    return {};
}

// An expiry the caller can read as a 64-bit integer (a fraction truncated).
bool fitsInt64(const json& value) {
    if (value.is_number_unsigned()) {
        return value.get<std::uint64_t>() <= static_cast<std::uint64_t>(INT64_MAX);
    }
    if (value.is_number_integer()) {
        return true;
    }
    if (value.is_number_float()) {
        const double d = value.get<double>();
        return d >= -0x1p63 && d < 0x1p63;
    }
    return false;
}

// The claims the local API reads as text or as an integer must have those
// types when present; the others (min_ver, test) it reads leniently. An eik
// of another type would let a body's eik go unchecked.
bool claimsWellTyped(const json& claims) {
    if (!claims.is_object()) {
        return false;
    }
    for (const char* key : {"iss", "typeId", "jti", "eik"}) {
        const auto it = claims.find(key);
        if (it != claims.end() && !it->is_string()) {
            return false;
        }
    }
    const auto exp = claims.find("exp");
    return exp == claims.end() || fitsInt64(*exp);
}

bool verifySignature(EVP_PKEY* key, std::string_view signingInput,
                     const std::vector<std::uint8_t>& signature) {
    std::unique_ptr<EVP_MD_CTX, EvpMdCtxDeleter> ctx(EVP_MD_CTX_new());
    const bool ok = ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key) == 1 &&
                    EVP_DigestVerifyUpdate(ctx.get(), signingInput.data(), signingInput.size()) == 1 &&
                    EVP_DigestVerifyFinal(ctx.get(), signature.data(), signature.size()) == 1;
    if (!ok) {
        // The queue is per thread; leave nothing behind for the next OpenSSL user.
        ERR_clear_error();
    }
    return ok;
}

bool isBase64Char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// A public key or certificate never asks for a password; without this OpenSSL
// would prompt on the terminal for an encrypted block.
int noPassword(char*, int, int, void*) {
    return -1;
}

}  // namespace

JwtVerifyResult JwtVerifier::verify(std::string_view token, std::string_view publicKeyPem) {
    JwtVerifyResult result;
    TokenParts parts;
    if (result.error = splitToken(token, parts); !result.error.empty()) {
        return result;
    }

    std::vector<std::uint8_t> bytes;
    if (!base64UrlDecode(parts.header, bytes)) {
        result.error = "header base64url decode failed";
        return result;
    }
    json header;
    if (const std::string message = parseJson(bytes, header); !message.empty()) {
        result.error = "header JSON parse: " + message;
        return result;
    }
    if (result.error = checkHeader(header); !result.error.empty()) {
        return result;
    }

    if (!base64UrlDecode(parts.payload, bytes)) {
        result.error = "payload base64url decode failed";
        return result;
    }
    if (const std::string message = parseJson(bytes, result.claims); !message.empty()) {
        result.error = "payload JSON parse: " + message;
        return result;
    }

    std::vector<std::uint8_t> signature;
    if (!base64UrlDecode(parts.signature, signature)) {
        result.error = "signature base64url decode failed";
        return result;
    }
    const PublicKeyHandle key = loadPublicKeyFromPem(publicKeyPem);
    if (!key) {
        result.error = "failed to parse public key PEM";
        return result;
    }
    if (!verifySignature(key.get(), parts.signingInput, signature)) {
        result.error = "signature verification failed";
        return result;
    }
    if (!claimsWellTyped(result.claims)) {
        result.error = kMalformed;
        return result;
    }
    result.ok = true;
    return result;
}

JwtVerifyResult JwtVerifier::decodeUnverified(std::string_view token) {
    JwtVerifyResult result;
    TokenParts parts;
    if (result.error = splitToken(token, parts); !result.error.empty()) {
        return result;
    }
    std::vector<std::uint8_t> bytes;
    if (!base64UrlDecode(parts.payload, bytes)) {
        result.error = "payload base64url decode failed";
        return result;
    }
    if (const std::string message = parseJson(bytes, result.claims); !message.empty()) {
        result.error = "payload JSON parse: " + message;
        return result;
    }
    // Callers look claims up by name; anything but an object is no claim set.
    if (!result.claims.is_object()) {
        result.error = kMalformed;
        return result;
    }
    result.ok = true;
    return result;
}

bool base64UrlDecode(std::string_view text, std::vector<std::uint8_t>& out) {
    out.clear();
    std::size_t dataLength = text.size();
    while (dataLength > 0 && text[dataLength - 1] == '=') {
        --dataLength;
    }
    // One character past a whole group carries no whole byte, and padding may
    // only complete the last group: anything else is no encoding at all (and
    // would make the decoded length come out short or negative).
    const std::size_t remainder = dataLength % 4;
    const std::size_t padding = (4 - remainder) % 4;
    if (remainder == 1 || text.size() - dataLength > padding) {
        return false;
    }

    std::string padded;
    padded.reserve(dataLength + padding);
    for (char c : text.substr(0, dataLength)) {
        if (c == '-') {
            c = '+';
        } else if (c == '_') {
            c = '/';
        }
        // EVP_DecodeBlock would skip white space and read '=' as zero bits.
        if (!isBase64Char(c)) {
            return false;
        }
        padded.push_back(c);
    }
    padded.append(padding, '=');
    if (padded.empty()) {
        return true;
    }
    if (padded.size() > static_cast<std::size_t>(INT_MAX)) {
        return false;
    }

    out.resize(padded.size() / 4 * 3);
    const int decoded = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(padded.data()),
                                        static_cast<int>(padded.size()));
    if (decoded < static_cast<int>(padding)) {
        out.clear();
        return false;
    }
    out.resize(static_cast<std::size_t>(decoded) - padding);
    return true;
}

PublicKeyHandle loadPublicKeyFromPem(std::string_view pem) {
    if (pem.size() > static_cast<std::size_t>(INT_MAX)) {
        return {};
    }
    std::unique_ptr<BIO, BioDeleter> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) {
        ERR_clear_error();
        return {};
    }
    PublicKeyHandle key(PEM_read_bio_PUBKEY(bio.get(), nullptr, noPassword, nullptr));
    if (!key) {
        // A certificate in the settings stands for the key it carries.
        BIO_reset(bio.get());
        std::unique_ptr<X509, X509Deleter> cert(PEM_read_bio_X509(bio.get(), nullptr, noPassword, nullptr));
        if (cert) {
            key.reset(X509_get_pubkey(cert.get()));
        }
    }
    ERR_clear_error();
    return key;
}

bool isVersionBelow(const core::AgentVersion& a, const core::AgentVersion& b) {
    if (a.major != b.major) {
        return a.major < b.major;
    }
    if (a.minor != b.minor) {
        return a.minor < b.minor;
    }
    return a.patch < b.patch;
}

}  // namespace velk::server
