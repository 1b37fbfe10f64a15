// Submission tokens from any caller of the local API: the decoder and the
// RS256 verifier answer every text without throwing, agree with each other,
// and a verdict's answer always serialises. Half of the inputs become tokens
// signed with the fuzz key, so the claim checks past the signature are
// reached too.

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "common/JsonUtils.h"
#include "common/TextUtils.h"
#include "server/JwtVerifier.h"
#include "server/SubmissionTokenCheck.h"

namespace {

using velk::core::json;
using namespace velk::server;

struct FuzzKey {
    EVP_PKEY* key = nullptr;
    std::string publicPem;

    FuzzKey() {
        key = EVP_RSA_gen(2048);
        BIO* bio = BIO_new(BIO_s_mem());
        PEM_write_bio_PUBKEY(bio, key);
        char* data = nullptr;
        const long size = BIO_get_mem_data(bio, &data);
        publicPem.assign(data, static_cast<std::size_t>(size));
        BIO_free(bio);
    }
};

const FuzzKey& fuzzKey() {
    static const FuzzKey key;
    return key;
}

std::string base64Url(std::string_view bytes) {
    std::string text = velk::core::base64Encode(bytes);
    while (!text.empty() && text.back() == '=') {
        text.pop_back();
    }
    for (char& c : text) {
        c = c == '+' ? '-' : c == '/' ? '_' : c;
    }
    return text;
}

std::string sign(std::string_view input) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    std::size_t length = 0;
    std::string signature;
    if (EVP_DigestSignInit(ctx, nullptr, EVP_sha256(), nullptr, fuzzKey().key) == 1 &&
        EVP_DigestSignUpdate(ctx, input.data(), input.size()) == 1 &&
        EVP_DigestSignFinal(ctx, nullptr, &length) == 1) {
        signature.resize(length);
        if (EVP_DigestSignFinal(ctx, reinterpret_cast<unsigned char*>(signature.data()), &length) == 1) {
            signature.resize(length);
        } else {
            signature.clear();
        }
    }
    EVP_MD_CTX_free(ctx);
    VELK_FUZZ_CHECK(!signature.empty());
    return signature;
}

// The claim types the verifier promises to have checked.
bool wellTyped(const json& claims) {
    for (const char* key : {"iss", "typeId", "jti", "eik"}) {
        const auto it = claims.find(key);
        if (it != claims.end() && !it->is_string()) {
            return false;
        }
    }
    const auto exp = claims.find("exp");
    if (exp == claims.end() || exp->is_number_integer()) {
        return exp == claims.end() || !exp->is_number_unsigned() ||
               exp->get<std::uint64_t>() <= static_cast<std::uint64_t>(INT64_MAX);
    }
    if (exp->is_number_float()) {
        const double d = exp->get<double>();
        return d >= -0x1p63 && d < 0x1p63;
    }
    return false;
}

void checkToken(const std::string& token, const std::string& body) {
    const std::string& pem = fuzzKey().publicPem;
    const JwtVerifyResult verified = JwtVerifier::verify(token, pem);
    const JwtVerifyResult decoded = JwtVerifier::decodeUnverified(token);
    if (verified.ok) {
        VELK_FUZZ_CHECK(decoded.ok);
        VELK_FUZZ_CHECK(decoded.claims == verified.claims);
        VELK_FUZZ_CHECK(wellTyped(verified.claims));
    }
    VELK_FUZZ_CHECK(!decoded.ok || decoded.claims.is_object());

    const TokenExpectations expected{pem, "velk-cloud", "vat", body, 1700000000};
    const TokenVerdict verdict = SubmissionTokenCheck::verify("Bearer " + token, expected);
    if (verdict.passed) {
        VELK_FUZZ_CHECK(verified.ok);
        VELK_FUZZ_CHECK(!verdict.jti.empty());
        VELK_FUZZ_CHECK(verdict.exp >= expected.nowSeconds);
    } else {
        VELK_FUZZ_CHECK(verdict.status == 401 || verdict.status == 426);
        (void)velk::core::dumpCompact(verdict.answer);
    }
    const bool testRun = SubmissionTokenCheck::unverifiedTestRun("Bearer " + token);
    VELK_FUZZ_CHECK(!testRun || decoded.ok);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velk::fuzz::InputParts parts(data, size);
    const std::uint8_t mode = parts.byte();

    VELK_FUZZ_NO_THROW({
        if (mode & 1) {
            // header -- payload -- body: a token signed with the fuzz key.
            const std::string_view header =
                (mode & 2) ? std::string_view(R"({"alg":"RS256","typ":"JWT"})") : parts.text();
            const std::string_view payload = parts.text();
            const std::string body(parts.text());
            const std::string signingInput = base64Url(header) + "." + base64Url(payload);
            std::string signature = sign(signingInput);
            const std::string token = signingInput + "." + base64Url(signature);
            checkToken(token, body);
            if (mode & 2) {
                // A good header and a payload of well-typed claims verify.
                const JwtVerifyResult decoded = JwtVerifier::decodeUnverified(token);
                const bool expectOk = decoded.ok && wellTyped(decoded.claims);
                VELK_FUZZ_CHECK(JwtVerifier::verify(token, fuzzKey().publicPem).ok == expectOk);
            }
            // Any change to the signature fails it.
            signature[mode % signature.size()] ^= 0x5a;
            VELK_FUZZ_CHECK(
                !JwtVerifier::verify(signingInput + "." + base64Url(signature), fuzzKey().publicPem).ok);
        } else {
            const std::string token(parts.rest());
            checkToken(token, token);
            // base64url reads back what it wrote, and judges any text without throwing.
            std::vector<std::uint8_t> bytes;
            VELK_FUZZ_CHECK(base64UrlDecode(base64Url(token), bytes));
            VELK_FUZZ_CHECK(std::string(bytes.begin(), bytes.end()) == token);
            if (base64UrlDecode(token, bytes)) {
                VELK_FUZZ_CHECK(bytes.size() <= token.size());
            }
            (void)loadPublicKeyFromPem(token);
        }
    });
    return 0;
}
