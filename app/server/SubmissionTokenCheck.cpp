#include "server/SubmissionTokenCheck.h"

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

// The body's text "eik" must be the token's; a body that is not a JSON object
// or a claim that is not text skips the check.
bool eikMatches(const json& claims, const std::string& bodyText) {
    const json body = json::parse(bodyText.empty() ? std::string("{}") : bodyText, nullptr, false);
    if (!body.is_object()) {
        return true;
    }
    const auto bodyEik = body.find("eik");
    if (bodyEik == body.end() || !bodyEik->is_string()) {
        return true;
    }
    const auto claimEik = claims.find("eik");
    if (claimEik != claims.end() && !claimEik->is_string()) {
        return true;
    }
    return textClaim(claims, "eik") == bodyEik->get<std::string>();
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
