#include "server/SubmissionTokenCheck.h"

#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/AgentVersion.h"
#include "common/Logger.h"
#include "common/TextUtils.h"
#include "server/JwtVerifier.h"

namespace velk::server {

namespace {

using core::json;

constexpr std::string_view kBearer = "Bearer ";

TokenVerdict refuse(int status, std::string message) {
    TokenVerdict verdict;
    verdict.status = status;
    verdict.answer = {{"error", std::move(message)}};
    return verdict;
}

// The verifier has checked the types of iss, typeId, jti and exp.
std::string textClaim(const json& claims, const char* name) {
    const auto it = claims.find(name);
    return it != claims.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool asksForTestRun(const json& claims) {
    const auto it = claims.find("test");
    if (it == claims.end()) {
        return false;
    }
    return (it->is_boolean() && it->get<bool>()) || (it->is_string() && it->get<std::string>() == "true");
}

// The body's eik as the engine will read it: a text as it is, an integer by
// its decimal digits. Nothing when the body holds no eik the engine would pass
// on (absent, null, array, object); a number with a fraction or an exponent
// beyond integers gives a text no claim can match.
std::optional<std::string> bodyEik(const json& body) {
    const auto eik = body.find("eik");
    if (eik == body.end()) {
        return std::nullopt;
    }
    if (eik->is_string()) {
        return eik->get<std::string>();
    }
    if (eik->is_number_unsigned()) {
        return std::to_string(eik->get<std::uint64_t>());
    }
    if (eik->is_number_integer()) {
        return std::to_string(eik->get<std::int64_t>());
    }
    if (eik->is_number_float()) {
        const double value = eik->get<double>();
        if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 0x1p53) {
            return std::to_string(static_cast<std::int64_t>(value));
        }
        return eik->dump();
    }
    if (eik->is_boolean()) {
        return eik->get<bool>() ? "true" : "false";
    }
    return std::nullopt;
}

// The body's eik must be the token's, whatever JSON type carries it; a body
// without one, or one that is not a JSON object, has nothing to hold against
// the claim. The verifier has made sure a claim eik is text.
bool eikMatches(const json& claims, const std::string& bodyText) {
    const std::optional<json> body =
        core::tryParseExternalJson(bodyText.empty() ? std::string_view("{}") : std::string_view(bodyText));
    if (!body || !body->is_object()) {
        return true;
    }
    const std::optional<std::string> eik = bodyEik(*body);
    return !eik || textClaim(claims, "eik") == *eik;
}

}  // namespace

TokenVerdict SubmissionTokenCheck::verify(const std::string& authorization,
                                          const TokenExpectations& expected) {
    if (authorization.size() < kBearer.size() || !authorization.starts_with(kBearer)) {
        return refuse(401, "Authorization: Bearer <JWT> required");
    }
    const std::string token = authorization.substr(kBearer.size());
    if (expected.publicKeyPem.empty()) {
        return refuse(503, "Agent VelkCloud public key is not configured");
    }

    const JwtVerifyResult verified = JwtVerifier::verify(token, expected.publicKeyPem);
    if (!verified.ok) {
        // The library's parse messages quote token bytes; keep them on one line.
        core::logLine(core::LogLevel::Warn,
                      "/api/v1/operations: JWT rejected — " + core::escapeControlBytes(verified.error));
        // The answer is strict UTF-8; a parse message may quote bytes that are not.
        return refuse(401, "Invalid submission token: " + core::toValidUtf8(verified.error));
    }
    const json& claims = verified.claims;
    if (textClaim(claims, "iss") != expected.issuer) {
        return refuse(401, "JWT issuer mismatch");
    }
    const auto exp = claims.find("exp");
    // A fraction is truncated; the verifier made sure the value fits.
    if (exp == claims.end() || exp->get<std::int64_t>() < expected.nowSeconds) {
        return refuse(401, "JWT expired");
    }
    if (textClaim(claims, "typeId") != expected.typeId) {
        return refuse(401, "JWT typeId does not match request");
    }
    if (const auto minVer = claims.find("min_ver"); minVer != claims.end() && minVer->is_string()) {
        const std::string required = minVer->get<std::string>();
        const auto version = core::parseVersion(required);
        if (version && isVersionBelow(core::currentVersion(), *version)) {
            core::logLine(core::LogLevel::Warn, "/api/v1/operations: agent " + core::versionString() +
                                                    " below cloud-required min_ver " +
                                                    core::escapeControlBytes(required));
            TokenVerdict verdict;
            verdict.status = 426;
            verdict.answer = {{"error", "Agent update required"},
                              {"agentVersion", core::versionString()},
                              {"requiredVersion", required}};
            return verdict;
        }
    }
    if (!eikMatches(claims, expected.bodyText)) {
        return refuse(401, "JWT eik does not match body");
    }
    TokenVerdict verdict;
    verdict.jti = textClaim(claims, "jti");
    if (verdict.jti.empty()) {
        return refuse(401, "JWT has no jti");
    }
    verdict.passed = true;
    verdict.exp = exp->get<std::int64_t>();
    verdict.testRun = asksForTestRun(claims);
    return verdict;
}

bool SubmissionTokenCheck::unverifiedTestRun(const std::string& authorization) {
    if (!authorization.starts_with(kBearer)) {
        return false;
    }
    const JwtVerifyResult decoded = JwtVerifier::decodeUnverified(authorization.substr(kBearer.size()));
    return decoded.ok && asksForTestRun(decoded.claims);
}

}  // namespace velk::server
