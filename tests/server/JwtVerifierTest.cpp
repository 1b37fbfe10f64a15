#include "server/JwtVerifier.h"

#include <gtest/gtest.h>
#include <openssl/err.h>

#include <functional>
#include <string>
#include <vector>

#include "common/TextUtils.h"
#include "support/TokenMinter.h"

namespace velk::server {
namespace {

using core::json;
using test::TokenMinter;

// Key generation is slow: one key pair per test process, made on first use.
const TokenMinter& minter() {
    static const TokenMinter instance;
    return instance;
}
const TokenMinter& otherMinter() {
    static const TokenMinter instance;
    return instance;
}

std::string b64u(std::string_view bytes) {
    return TokenMinter::base64Url(bytes);
}

std::string toStandardAlphabet(std::string text) {
    for (char& c : text) {
        c = c == '-' ? '+' : c == '_' ? '/' : c;
    }
    return text;
}

std::string padded(std::string text) {
    text.append((4 - text.size() % 4) % 4, '=');
    return text;
}

// The bounded reader's message for a text it cannot parse.
std::string parseMessage(std::string_view text) {
    try {
        const json parsed = core::parseExternalJson(text);
    } catch (const json::exception& e) {
        return e.what();
    }
    return "(parsed)";
}

const std::string kHeader = R"({"alg":"RS256","typ":"JWT"})";
// Past the bounded reader's depth, yet short enough for a header line.
const std::string kDeepArray =
    std::string(core::kMaxJsonDepth + 1, '[') + std::string(core::kMaxJsonDepth + 1, ']');
const std::string kClaims = R"({"exp":1893456000,"iss":"velk-cloud","jti":"t-1","typeId":"vat"})";

// Correctly signed, so only the part under test is wrong.
std::string signedToken(std::string_view header, std::string_view claims) {
    return minter().signParts(b64u(header), b64u(claims));
}
std::string goodToken() {
    return signedToken(kHeader, kClaims);
}

// Replaces the signature part of a token.
std::string withSignature(const std::string& token, std::string_view signature) {
    return token.substr(0, token.rfind('.') + 1) + std::string(signature);
}

enum class Pem { Key, Certificate, OtherKey, Garbage, Empty };

std::string pemText(Pem pem) {
    switch (pem) {
        case Pem::Key:
            return minter().publicKeyPem();
        case Pem::Certificate:
            return minter().certificatePem();
        case Pem::OtherKey:
            return otherMinter().publicKeyPem();
        case Pem::Garbage:
            return "-----BEGIN PUBLIC KEY-----\nnot a key\n-----END PUBLIC KEY-----\n";
        case Pem::Empty:
            return "";
    }
    return "";
}

struct TokenCase {
    const char* name;
    std::function<std::string()> token;
    Pem pem;
    std::string error;  // empty: the token verifies
};

std::vector<TokenCase> tokenCases() {
    const std::string malformed = "malformed token";
    const auto claimsWith = [](const char* member) {
        return std::string(R"({"exp":1893456000,"iss":"velk-cloud","jti":"t-1","typeId":"vat",)") + member +
               "}";
    };
    return {
        // Shape of the token.
        {"empty token", [] { return ""; }, Pem::Key, "malformed JWT (no first dot)"},
        {"no dot", [] { return "abc"; }, Pem::Key, "malformed JWT (no first dot)"},
        {"one dot", [] { return "abc.def"; }, Pem::Key, "malformed JWT (no second dot)"},
        {"one dot at the end", [] { return "abc."; }, Pem::Key, "malformed JWT (no second dot)"},

        // Header.
        {"header outside the alphabet", [] { return "e!J9.e30.AAAA"; }, Pem::Key,
         "header base64url decode failed"},
        {"header only padding", [] { return "====.e30.AAAA"; }, Pem::Key, "header base64url decode failed"},
        {"header of impossible length", [] { return "eyJhb.e30.AAAA"; }, Pem::Key,
         "header base64url decode failed"},
        {"header with surplus padding", [] { return b64u(kHeader) + "=.e30.AAAA"; }, Pem::Key,
         "header base64url decode failed"},
        {"header not JSON", [] { return signedToken("{alg", kClaims); }, Pem::Key,
         "header JSON parse: " + parseMessage("{alg")},
        {"header with a comment", [] { return signedToken("/**/" + kHeader, kClaims); }, Pem::Key,
         "header JSON parse: " + parseMessage("/**/" + kHeader)},
        {"alg HS256", [] { return signedToken(R"({"alg":"HS256","typ":"JWT"})", kClaims); }, Pem::Key,
         "unsupported alg (only RS256 is accepted)"},
        {"alg in lower case", [] { return signedToken(R"({"alg":"rs256"})", kClaims); }, Pem::Key,
         "unsupported alg (only RS256 is accepted)"},
        {"alg none", [] { return signedToken(R"({"alg":"none"})", kClaims); }, Pem::Key,
         "unsupported alg (only RS256 is accepted)"},
        {"alg absent", [] { return signedToken(R"({"typ":"JWT"})", kClaims); }, Pem::Key,
         "unsupported alg (only RS256 is accepted)"},
        {"alg checked before the payload", [] { return signedToken(R"({"alg":"HS256"})", "{") + "!"; },
         Pem::Garbage, "unsupported alg (only RS256 is accepted)"},
        {"typ in lower case", [] { return signedToken(R"({"alg":"RS256","typ":"jwt"})", kClaims); }, Pem::Key,
         "unsupported typ (expected JWT)"},
        {"header an array", [] { return signedToken("[]", kClaims); }, Pem::Key, malformed},
        {"header null", [] { return signedToken("null", kClaims); }, Pem::Key, malformed},
        {"alg a number", [] { return signedToken(R"({"alg":256})", kClaims); }, Pem::Key, malformed},
        {"alg null", [] { return signedToken(R"({"alg":null})", kClaims); }, Pem::Key, malformed},
        {"typ a number", [] { return signedToken(R"({"alg":"RS256","typ":1})", kClaims); }, Pem::Key,
         malformed},

        // Payload.
        {"payload outside the alphabet", [] { return b64u(kHeader) + ".e30*.AAAA"; }, Pem::Key,
         "payload base64url decode failed"},
        {"payload only padding", [] { return b64u(kHeader) + ".==.AAAA"; }, Pem::Key,
         "payload base64url decode failed"},
        {"payload not JSON", [] { return signedToken(kHeader, R"({"iss":)"); }, Pem::Key,
         "payload JSON parse: " + parseMessage(R"({"iss":)")},
        {"payload not UTF-8", [] { return signedToken(kHeader, "{\"iss\":\"\xff\"}"); }, Pem::Key,
         "payload JSON parse: " + parseMessage("{\"iss\":\"\xff\"}")},
        {"payload number beyond a double", [] { return signedToken(kHeader, R"({"exp":1e999})"); }, Pem::Key,
         "payload JSON parse: " + parseMessage(R"({"exp":1e999})")},
        {"payload nested too deep", [] { return signedToken(kHeader, kDeepArray); }, Pem::Key,
         "payload JSON parse: " + parseMessage(kDeepArray)},

        // Signature and key.
        {"signature outside the alphabet", [] { return withSignature(goodToken(), "@@@@"); }, Pem::Key,
         "signature base64url decode failed"},
        {"four parts", [] { return goodToken() + ".x"; }, Pem::Key, "signature base64url decode failed"},
        {"signature with surplus padding", [] { return goodToken() + "==="; }, Pem::Key,
         "signature base64url decode failed"},
        {"signature checked before the key", [] { return withSignature(goodToken(), "A"); }, Pem::Garbage,
         "signature base64url decode failed"},
        {"PEM not a key", [] { return goodToken(); }, Pem::Garbage, "failed to parse public key PEM"},
        {"PEM empty", [] { return goodToken(); }, Pem::Empty, "failed to parse public key PEM"},
        {"another key", [] { return goodToken(); }, Pem::OtherKey, "signature verification failed"},
        {"payload changed after signing",
         [] {
             const std::string other = signedToken(kHeader, R"({"jti":"t-2"})");
             return b64u(kHeader) + "." + b64u(R"({"jti":"t-3"})") + other.substr(other.rfind('.'));
         },
         Pem::Key, "signature verification failed"},
        {"empty signature", [] { return withSignature(goodToken(), ""); }, Pem::Key,
         "signature verification failed"},

        // JSON types of the claims the local API reads.
        {"claims an array", [] { return signedToken(kHeader, "[]"); }, Pem::Key, malformed},
        {"claims a text", [] { return signedToken(kHeader, R"("x")"); }, Pem::Key, malformed},
        {"iss a number", [] { return signedToken(kHeader, R"({"iss":5})"); }, Pem::Key, malformed},
        {"typeId null", [] { return signedToken(kHeader, R"({"typeId":null})"); }, Pem::Key, malformed},
        {"jti a number", [] { return signedToken(kHeader, R"({"jti":1})"); }, Pem::Key, malformed},
        {"eik a number", [] { return signedToken(kHeader, R"({"eik":123})"); }, Pem::Key, malformed},
        {"eik null", [] { return signedToken(kHeader, R"({"eik":null})"); }, Pem::Key, malformed},
        {"exp a text", [] { return signedToken(kHeader, R"({"exp":"1893456000"})"); }, Pem::Key, malformed},
        {"exp a boolean", [] { return signedToken(kHeader, R"({"exp":true})"); }, Pem::Key, malformed},
        {"exp above 64 bits", [] { return signedToken(kHeader, R"({"exp":9223372036854775808})"); }, Pem::Key,
         malformed},
        {"exp fraction above 64 bits", [] { return signedToken(kHeader, R"({"exp":1e19})"); }, Pem::Key,
         malformed},
        {"exp below 64 bits", [] { return signedToken(kHeader, R"({"exp":-1e19})"); }, Pem::Key, malformed},

        // Tokens that verify.
        {"valid", [] { return goodToken(); }, Pem::Key, ""},
        {"valid against a certificate", [] { return goodToken(); }, Pem::Certificate, ""},
        {"no typ", [] { return signedToken(R"({"alg":"RS256"})", kClaims); }, Pem::Key, ""},
        {"padded parts",
         [] {
             // Lengths chosen so the parts end in "==", "=" and "==".
             const std::string header = padded(b64u(R"({"alg":"RS256","typ":"JWT" })"));
             const std::string claims =
                 padded(b64u(R"({"exp":1893456000,"iss":"velk-cloud","jti":"t-10","typeId":"vat"})"));
             const std::string token = minter().signParts(header, claims);
             const std::string signature = padded(token.substr(token.rfind('.') + 1));
             if (!header.ends_with("==") || !claims.ends_with("=") || !signature.ends_with("=")) {
                 ADD_FAILURE() << "a part has no padding: " << token;
             }
             return withSignature(token, signature);
         },
         Pem::Key, ""},
        {"standard alphabet",
         [=] {
             // Runs of '?' and '>' encode to '/' and '+' in the standard alphabet.
             const std::string claims = claimsWith(R"("note":"??????>>>>>>")");
             const std::string token =
                 minter().signParts(toStandardAlphabet(b64u(kHeader)), toStandardAlphabet(b64u(claims)));
             const std::string standard = toStandardAlphabet(token);
             const std::string signingInput = standard.substr(0, standard.rfind('.'));
             if (signingInput.find('+') == std::string::npos || signingInput.find('/') == std::string::npos) {
                 ADD_FAILURE() << "the signed parts hold no '+' or '/': " << signingInput;
             }
             return standard;
         },
         Pem::Key, ""},
        {"no claims", [] { return signedToken(kHeader, "{}"); }, Pem::Key, ""},
        {"exp the largest 64-bit", [] { return signedToken(kHeader, R"({"exp":9223372036854775807})"); },
         Pem::Key, ""},
        {"exp the smallest 64-bit", [] { return signedToken(kHeader, R"({"exp":-9223372036854775808})"); },
         Pem::Key, ""},
        {"exp with a fraction", [] { return signedToken(kHeader, R"({"exp":1893456000.75})"); }, Pem::Key,
         ""},
        {"lenient claims of any type",
         [=] { return signedToken(kHeader, claimsWith(R"("min_ver":1,"test":"yes")")); }, Pem::Key, ""},
    };
}

TEST(JwtVerifier, TokenCases) {
    for (const TokenCase& c : tokenCases()) {
        SCOPED_TRACE(c.name);
        const JwtVerifyResult result = JwtVerifier::verify(c.token(), pemText(c.pem));
        EXPECT_EQ(result.error, c.error);
        EXPECT_EQ(result.ok, c.error.empty());
    }
}

TEST(JwtVerifier, VerifiedClaimsAreThePayload) {
    const json claims = {{"iss", "velk-cloud"}, {"exp", 1893456000}, {"jti", "Ж-1"}, {"test", true}};
    const JwtVerifyResult result = JwtVerifier::verify(minter().mint(claims), minter().publicKeyPem());
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.claims, claims);
}

TEST(JwtVerifier, ClaimsStayOnceParsed) {
    const std::string token = signedToken(kHeader, kClaims);
    const JwtVerifyResult wrongKey = JwtVerifier::verify(token, otherMinter().publicKeyPem());
    EXPECT_FALSE(wrongKey.ok);
    EXPECT_EQ(wrongKey.claims, json::parse(kClaims));

    const JwtVerifyResult badHeader = JwtVerifier::verify(signedToken(R"({"alg":"HS256"})", kClaims), "");
    EXPECT_TRUE(badHeader.claims.is_null());

    const JwtVerifyResult badPayload = JwtVerifier::verify(signedToken(kHeader, "{"), "");
    EXPECT_TRUE(badPayload.claims.is_null());
}

TEST(JwtVerifier, LeavesNoOpenSslErrorBehind) {
    ERR_clear_error();
    EXPECT_FALSE(JwtVerifier::verify(goodToken(), otherMinter().publicKeyPem()).ok);
    EXPECT_FALSE(JwtVerifier::verify(goodToken(), pemText(Pem::Garbage)).ok);
    EXPECT_EQ(ERR_peek_error(), 0UL);
}

struct UnverifiedCase {
    const char* name;
    std::string token;
    std::string error;
};

TEST(JwtVerifier, DecodeUnverifiedReadsOnlyThePayload) {
    const std::string payload = b64u(R"({"test":"true"})");
    const std::vector<UnverifiedCase> cases = {
        {"empty", "", "malformed JWT (no first dot)"},
        {"one dot", "x.", "malformed JWT (no second dot)"},
        {"payload outside the alphabet", "x.!!.y", "payload base64url decode failed"},
        {"payload of impossible length", "x.e.y", "payload base64url decode failed"},
        {"payload not JSON", "x." + b64u("{") + ".y", "payload JSON parse: " + parseMessage("{")},
        {"claims an array", "x." + b64u("[true]") + ".y", "malformed token"},
        {"garbage header and signature", "@@." + payload + ".@@", ""},
        {"no signature", "." + payload + ".", ""},
    };
    for (const UnverifiedCase& c : cases) {
        SCOPED_TRACE(c.name);
        const JwtVerifyResult result = JwtVerifier::decodeUnverified(c.token);
        EXPECT_EQ(result.error, c.error);
        EXPECT_EQ(result.ok, c.error.empty());
        if (result.ok) {
            EXPECT_EQ(result.claims, json({{"test", "true"}}));
        }
    }
}

struct DecodeCase {
    const char* text;
    bool ok;
    std::string bytes;
};

TEST(Base64UrlDecode, Cases) {
    const std::vector<DecodeCase> cases = {
        {"", true, ""},
        {"QQ", true, "A"},
        {"QQ=", true, "A"},
        {"QQ==", true, "A"},
        {"QUI", true, "AB"},
        {"QUI=", true, "AB"},
        {"QUJD", true, "ABC"},
        {"-_-_", true, "\xfb\xff\xbf"},
        {"+/+/", true, "\xfb\xff\xbf"},
        // Only padding, or a length no encoding has: no bytes, not a negative count.
        {"=", false, ""},
        {"==", false, ""},
        {"====", false, ""},
        {"Q", false, ""},
        {"Q===", false, ""},
        {"QUJDR", false, ""},
        // More padding than the last group needs.
        {"QUJD=", false, ""},
        {"QUI==", false, ""},
        {"QQ===", false, ""},
        // Padding inside, white space, other characters.
        {"QU=D", false, ""},
        {" QUJD", false, ""},
        {"QUJD ", false, ""},
        {"QUJD\n", false, ""},
        {"QU.D", false, ""},
        {"QU*D", false, ""},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::uint8_t> out = {1, 2, 3};
        EXPECT_EQ(base64UrlDecode(c.text, out), c.ok);
        if (c.ok) {
            EXPECT_EQ(std::string(out.begin(), out.end()), c.bytes);
        }
    }
}

TEST(Base64UrlDecode, RoundTripsEveryLengthAndByte) {
    std::string bytes;
    for (int i = 0; i < 300; ++i) {
        SCOPED_TRACE(i);
        std::vector<std::uint8_t> out;
        ASSERT_TRUE(base64UrlDecode(b64u(bytes), out));
        EXPECT_EQ(std::string(out.begin(), out.end()), bytes);
        ASSERT_TRUE(base64UrlDecode(core::base64Encode(bytes), out));
        EXPECT_EQ(std::string(out.begin(), out.end()), bytes);
        bytes.push_back(static_cast<char>(i * 37 + 11));
    }
}

TEST(LoadPublicKeyFromPem, ReadsAKeyOrACertificate) {
    const PublicKeyHandle key = loadPublicKeyFromPem(minter().publicKeyPem());
    const PublicKeyHandle fromCert = loadPublicKeyFromPem(minter().certificatePem());
    const PublicKeyHandle other = loadPublicKeyFromPem(otherMinter().publicKeyPem());
    ASSERT_TRUE(key);
    ASSERT_TRUE(fromCert);
    ASSERT_TRUE(other);
    EXPECT_EQ(EVP_PKEY_eq(key.get(), fromCert.get()), 1);
    EXPECT_NE(EVP_PKEY_eq(key.get(), other.get()), 1);

    // Text around the block, as a pasted settings value may have.
    EXPECT_TRUE(loadPublicKeyFromPem("pasted:\n" + minter().certificatePem() + "\n"));
}

TEST(LoadPublicKeyFromPem, NothingReadableGivesAnEmptyHandle) {
    const std::string pem = minter().publicKeyPem();
    for (const std::string& text :
         {std::string(), std::string("no PEM here"), pem.substr(0, pem.size() / 2), pemText(Pem::Garbage)}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(loadPublicKeyFromPem(text));
    }
}

struct VersionCase {
    core::AgentVersion a;
    core::AgentVersion b;
    bool below;
};

TEST(IsVersionBelow, ComparesMajorMinorPatch) {
    const std::vector<VersionCase> cases = {
        {{0, 1, 0}, {0, 1, 1}, true},     {{0, 1, 0}, {0, 1, 0}, false},    {{1, 0, 0}, {0, 9, 9}, false},
        {{0, 9, 65535}, {1, 0, 0}, true}, {{1, 2, 9}, {1, 3, 0}, true},     {{1, 3, 0}, {1, 2, 9}, false},
        {{0, 1, 1}, {0, 1, 0}, false},    {{0, 65535, 0}, {1, 0, 0}, true},
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(core::toString(c.a) + " vs " + core::toString(c.b));
        EXPECT_EQ(isVersionBelow(c.a, c.b), c.below);
    }
}

}  // namespace
}  // namespace velk::server
