#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/AgentVersion.h"
#include "common/JsonUtils.h"
#include "engine/TestOperations.h"
#include "server/DialogGate.h"
#include "server_http/ScriptedSenderPicker.h"
#include "server_http/ServerHarness.h"
#include "support/LogCapture.h"
#include "support/TokenMinter.h"

namespace velk::test {
namespace {

using core::json;

constexpr const char* kIssuer = "velk-cloud-test";

std::string runPath(const std::string& typeId) {
    return "/api/v1/operations/" + typeId;
}

std::string b64(std::string_view text) {
    return TokenMinter::base64Url(text);
}

// The cloud's token for the echo run, signed by `minter`, with any claim
// changed, added or (given null) removed.
class Tokens {
public:
    Tokens(const TokenMinter& minter, const ServerHarness& harness) : minter_(minter), harness_(harness) {}

    json claims(const json& changes = json::object()) const {
        json claims = {{"iss", kIssuer},
                       {"exp", harness_.wallSeconds.load() + 60},
                       {"typeId", kTokenEchoOp},
                       {"eik", "123"},
                       {"jti", "jti-" + std::to_string(++counter_)}};
        for (const auto& [key, value] : changes.items()) {
            if (value.is_null()) {
                claims.erase(key);
            } else {
                claims[key] = value;
            }
        }
        return claims;
    }
    std::string bearer(const json& changes = json::object()) const {
        return "Bearer " + minter_.mint(claims(changes));
    }
    std::string bearerWithHeader(const json& header) const {
        return "Bearer " + minter_.mint(header, claims());
    }
    // Header and payload parts as given, signed.
    std::string bearerParts(const std::string& header, const std::string& payload) const {
        return "Bearer " + minter_.signParts(header, payload);
    }
    std::string goodHeader() const { return b64(R"({"alg":"RS256","typ":"JWT"})"); }
    std::string goodPayload() const { return b64(claims().dump()); }

private:
    const TokenMinter& minter_;
    const ServerHarness& harness_;
    mutable int counter_ = 0;
};

class TokenRouteTest : public ::testing::Test {
protected:
    TokenRouteTest() : tokens(minter, harness) {
        harness.addSenders({"a", "b"}, "a");
        harness.settings().setCloud(true, minter.publicKeyPem(), kIssuer);
    }

    Answer run(const std::string& authorization, const std::string& body = R"({"eik":"123"})",
               const std::string& typeId = kTokenEchoOp,
               httplib::Headers headers = {{"X-Velk-Sender-Id", "a"}}) {
        if (!authorization.empty()) {
            headers.emplace("Authorization", authorization);
        }
        return harness.post(runPath(typeId), body, headers);
    }

    TokenMinter minter;
    ServerHarness harness;
    Tokens tokens;
};

// Every way a token can fail, in the order of the checks, and the cases at
// their edges that pass.
TEST_F(TokenRouteTest, ChecksTheTokenByTable) {
    TokenMinter stranger;
    const std::int64_t now = harness.wallSeconds;
    const core::AgentVersion current = core::currentVersion();
    const std::string nextVersion = std::to_string(current.major) + "." + std::to_string(current.minor) +
                                    "." + std::to_string(current.patch + 1);
    struct Case {
        std::string name;
        std::function<std::string()> authorization;
        int status;
        std::string error;  // a prefix; for 200, ignored
        bool rejectionLogged = false;
        std::string body = R"({"eik":"123"})";
        std::function<void()> before = {};
    };
    const std::vector<Case> cases = {
        {"no header", [] { return ""; }, 401, "Authorization: Bearer <JWT> required"},
        {"too short", [] { return "Bearer"; }, 401, "Authorization: Bearer <JWT> required"},
        {"other case", [&] { return "bearer " + tokens.bearer().substr(7); }, 401,
         "Authorization: Bearer <JWT> required"},
        {"no public key", [&] { return tokens.bearer(); }, 503,
         "Agent VelkCloud public key is not configured", false, R"({"eik":"123"})",
         [&] { harness.settings().setCloud(true, "", kIssuer); }},
        {"no dot", [] { return "Bearer abc"; }, 401, "Invalid submission token: malformed JWT (no first dot)",
         true},
        {"one dot", [] { return "Bearer abc."; }, 401,
         "Invalid submission token: malformed JWT (no second dot)", true},
        {"header not base64url", [&] { return tokens.bearerParts("e30*", tokens.goodPayload()); }, 401,
         "Invalid submission token: header base64url decode failed", true},
        {"header all padding", [&] { return tokens.bearerParts("====", tokens.goodPayload()); }, 401,
         "Invalid submission token: header base64url decode failed", true},
        {"header not JSON", [&] { return tokens.bearerParts(b64("{\"alg\""), tokens.goodPayload()); }, 401,
         "Invalid submission token: header JSON parse: [json.exception.parse_error", true},
        {"alg HS256",
         [&] {
             return tokens.bearerWithHeader({{"alg", "HS256"}, {"typ", "JWT"}});
         },
         401, "Invalid submission token: unsupported alg (only RS256 is accepted)", true},
        {"alg lower case",
         [&] {
             return tokens.bearerWithHeader({{"alg", "rs256"}});
         },
         401, "Invalid submission token: unsupported alg (only RS256 is accepted)", true},
        {"typ lower case",
         [&] {
             return tokens.bearerWithHeader({{"alg", "RS256"}, {"typ", "jwt"}});
         },
         401, "Invalid submission token: unsupported typ (expected JWT)", true},
        {"payload not base64url", [&] { return tokens.bearerParts(tokens.goodHeader(), "a"); }, 401,
         "Invalid submission token: payload base64url decode failed", true},
        {"payload not JSON", [&] { return tokens.bearerParts(tokens.goodHeader(), b64("nope")); }, 401,
         "Invalid submission token: payload JSON parse: [json.exception.parse_error", true},
        // The parser's message quotes the bytes it stopped at; the answer is
        // strict UTF-8 and must still be the refusal, not an internal error.
        {"header bytes not UTF-8", [&] { return tokens.bearerParts(b64("\xC0\xFF"), tokens.goodPayload()); },
         401, "Invalid submission token: header JSON parse: [json.exception.parse_error", true},
        {"payload bytes not UTF-8", [&] { return tokens.bearerParts(tokens.goodHeader(), b64("\xC0\xFF")); },
         401, "Invalid submission token: payload JSON parse: [json.exception.parse_error", true},
        {"signature not base64url", [&] { return tokens.bearer() + "*"; }, 401,
         "Invalid submission token: signature base64url decode failed", true},
        {"four parts", [&] { return tokens.bearer() + ".more"; }, 401,
         "Invalid submission token: signature base64url decode failed", true},
        {"key not PEM", [&] { return tokens.bearer(); }, 401,
         "Invalid submission token: failed to parse public key PEM", true, R"({"eik":"123"})",
         [&] { harness.settings().setCloud(true, "garbage", kIssuer); }},
        {"signed by another key", [&] { return "Bearer " + stranger.mint(tokens.claims()); }, 401,
         "Invalid submission token: signature verification failed", true},
        {"header not an object", [&] { return tokens.bearerParts(b64("[1]"), tokens.goodPayload()); }, 401,
         "Invalid submission token: malformed token", true},
        {"alg not text",
         [&] {
             return tokens.bearerWithHeader({{"alg", 256}});
         },
         401, "Invalid submission token: malformed token", true},
        {"claims not an object", [&] { return tokens.bearerParts(tokens.goodHeader(), b64("[\"x\"]")); }, 401,
         "Invalid submission token: malformed token", true},
        {"iss not text",
         [&] {
             return tokens.bearer({{"iss", 7}});
         },
         401, "Invalid submission token: malformed token", true},
        {"typeId not text",
         [&] {
             return tokens.bearer({{"typeId", true}});
         },
         401, "Invalid submission token: malformed token", true},
        {"jti not text",
         [&] {
             return tokens.bearer({{"jti", json::array()}});
         },
         401, "Invalid submission token: malformed token", true},
        {"exp not a number",
         [&] {
             return tokens.bearer({{"exp", "soon"}});
         },
         401, "Invalid submission token: malformed token", true},
        {"exp out of range",
         [&] {
             return tokens.bearer({{"exp", 1e300}});
         },
         401, "Invalid submission token: malformed token", true},
        {"other issuer",
         [&] {
             return tokens.bearer({{"iss", "someone"}});
         },
         401, "JWT issuer mismatch"},
        {"no issuer",
         [&] {
             return tokens.bearer({{"iss", nullptr}});
         },
         401, "JWT issuer mismatch"},
        {"expired",
         [&] {
             return tokens.bearer({{"exp", now - 1}});
         },
         401, "JWT expired"},
        {"expired by a fraction",
         [&] {
             return tokens.bearer({{"exp", now - 0.5}});
         },
         401, "JWT expired"},
        {"no expiry",
         [&] {
             return tokens.bearer({{"exp", nullptr}});
         },
         401, "JWT expired"},
        {"expires this second",
         [&] {
             return tokens.bearer({{"exp", now}});
         },
         200, ""},
        {"fraction of a second left",
         [&] {
             return tokens.bearer({{"exp", now + 0.5}});
         },
         200, ""},
        {"other operation",
         [&] {
             return tokens.bearer({{"typeId", "due_amounts"}});
         },
         401, "JWT typeId does not match request"},
        {"agent too old",
         [&] {
             return tokens.bearer({{"min_ver", nextVersion}});
         },
         426, "Agent update required"},
        {"agent new enough",
         [&] {
             return tokens.bearer({{"min_ver", core::versionString()}});
         },
         200, ""},
        {"min_ver of two parts",
         [&] {
             return tokens.bearer({{"min_ver", "99.1"}});
         },
         200, ""},
        {"min_ver not text",
         [&] {
             return tokens.bearer({{"min_ver", 99}});
         },
         200, ""},
        {"other taxpayer",
         [&] {
             return tokens.bearer({{"eik", "999"}});
         },
         401, "JWT eik does not match body"},
        {"no taxpayer in the token",
         [&] {
             return tokens.bearer({{"eik", nullptr}});
         },
         401, "JWT eik does not match body"},
        // The body's eik is held against the token's whatever its JSON type.
        {"body eik a number of other digits",
         [&] {
             return tokens.bearer({{"eik", "999"}});
         },
         401, "JWT eik does not match body", false, R"({"eik":123})"},
        {"body eik the token's digits as a number", [&] { return tokens.bearer(); }, 200, "", false,
         R"({"eik":123})"},
        {"body eik the token's digits with a zero fraction", [&] { return tokens.bearer(); }, 200, "", false,
         R"({"eik":123.0})"},
        {"body eik a fraction", [&] { return tokens.bearer(); }, 401, "JWT eik does not match body", false,
         R"({"eik":123.5})"},
        {"body eik a negative number", [&] { return tokens.bearer(); }, 401, "JWT eik does not match body",
         false, R"({"eik":-123})"},
        {"body eik a boolean", [&] { return tokens.bearer(); }, 401, "JWT eik does not match body", false,
         R"({"eik":true})"},
        {"body eik null, which the run drops",
         [&] {
             return tokens.bearer({{"eik", "999"}});
         },
         200, "", false, R"({"eik":null})"},
        {"claim eik a number",
         [&] {
             return tokens.bearer({{"eik", 123}});
         },
         401, "Invalid submission token: malformed token", true, R"({"eik":123})"},
        {"claim eik a number, body without eik",
         [&] {
             return tokens.bearer({{"eik", 123}});
         },
         401, "Invalid submission token: malformed token", true, R"({"year":1})"},
        {"body without eik",
         [&] {
             return tokens.bearer({{"eik", "999"}});
         },
         200, "", false, R"({"year":1})"},
        {"body not an object",
         [&] {
             return tokens.bearer({{"eik", "999"}});
         },
         200, "", false, R"(["eik"])"},
        {"body not JSON",
         [&] {
             return tokens.bearer({{"eik", "999"}});
         },
         502, "Invalid params JSON: ", false, "{eik"},
        {"no jti",
         [&] {
             return tokens.bearer({{"jti", nullptr}});
         },
         401, "JWT has no jti"},
        {"empty jti",
         [&] {
             return tokens.bearer({{"jti", ""}});
         },
         401, "JWT has no jti"},
        {"no typ",
         [&] {
             return tokens.bearerWithHeader({{"alg", "RS256"}});
         },
         200, ""},
        {"certificate as key", [&] { return tokens.bearer(); }, 200, "", false, R"({"eik":"123"})",
         [&] { harness.settings().setCloud(true, minter.certificatePem(), kIssuer); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        harness.settings().setCloud(true, minter.publicKeyPem(), kIssuer);
        if (c.before) {
            c.before();
        }
        LogCapture log;
        const Answer answer = run(c.authorization(), c.body);
        ASSERT_EQ(answer.status, c.status) << answer.body;
        if (c.status == 426) {
            EXPECT_EQ(answer.json(), json({{"error", "Agent update required"},
                                           {"agentVersion", core::versionString()},
                                           {"requiredVersion", nextVersion}}));
            EXPECT_EQ(log.count("WARN", "/api/v1/operations: agent " + core::versionString() +
                                            " below cloud-required min_ver " + nextVersion),
                      1);
        } else if (c.status == 200) {
            EXPECT_EQ(answer.json().at("metadata").at("identity"), "EIK-a|5|CERT-a|KEY-a");
        } else {
            EXPECT_TRUE(answer.error().starts_with(c.error)) << answer.error();
        }
        EXPECT_EQ(log.count("WARN", "/api/v1/operations: JWT rejected — "), c.rejectionLogged ? 1 : 0);
    }
}

TEST_F(TokenRouteTest, OnlyOperationsAskingForATokenInCloudModeNeedOne) {
    EXPECT_EQ(run("", "{}", kEchoOp).status, 200);
    EXPECT_EQ(run("Bearer garbage", "{}", kEchoOp).status, 200);
    harness.settings().setCloud(false, minter.publicKeyPem(), kIssuer);
    EXPECT_EQ(run("", "{}", kTokenEchoOp).status, 200);
    EXPECT_EQ(run("Bearer garbage", "{}", kTokenEchoOp).status, 200);
}

TEST_F(TokenRouteTest, ATestClaimMakesATestRun) {
    LogCapture log;
    Answer answer = run(tokens.bearer({{"test", "true"}}));
    ASSERT_EQ(answer.status, 200) << answer.body;
    // The fixture of the echo: the generic envelope of the demo result, no session.
    EXPECT_FALSE(answer.json().at("metadata").contains("identity"));
    EXPECT_EQ(log.count("INFO", std::string("/api/v1/operations: test mode for typeId=") + kTokenEchoOp), 1);

    answer = run(tokens.bearer({{"test", false}}));
    EXPECT_EQ(answer.json().at("metadata").at("identity"), "EIK-a|5|CERT-a|KEY-a");
}

TEST_F(TokenRouteTest, ATokenIsUsedOnceUntilTheGuardForgetsIt) {
    const std::string token = tokens.bearer();
    EXPECT_EQ(run(token).status, 200);
    Answer again = run(token);
    EXPECT_EQ(again.status, 401);
    EXPECT_EQ(again.error(), "Submission token already used (replay)");

    harness.steadyNs += 59'000'000'000;
    EXPECT_EQ(run(token).status, 401);
    harness.steadyNs += 1'000'000'000;
    EXPECT_EQ(run(token).status, 200);
}

TEST_F(TokenRouteTest, ASubmissionTokenStaysUsedUntilItExpires) {
    const std::string token = tokens.bearer({{"typeId", kFilingOp}, {"exp", harness.wallSeconds + 3600}});
    const httplib::Headers headers = {{"X-Velk-Sender-Id", "a"}, {"X-Velk-File-Path", "/d.xml"}};
    ASSERT_EQ(run(token, "{}", kFilingOp, headers).status, 200);
    harness.steadyNs += 61'000'000'000;
    EXPECT_EQ(run(token, "{}", kFilingOp, headers).error(), "Submission token already used (replay)");
    harness.steadyNs += 3540'000'000'000;
    EXPECT_EQ(run(token, "{}", kFilingOp, headers).status, 200);
}

TEST_F(TokenRouteTest, AnUnknownSenderIsRefusedBeforeTheToken) {
    const Answer answer = run("", "{}", kTokenEchoOp, {{"X-Velk-Sender-Id", "zz"}});
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.error(), "Unknown senderId: zz");
}

// With a picker: no dialog and no change of the active sender without a valid
// token, and a cancelled choice leaves the token unused.
TEST(TokenDialogOrderTest, NoDialogBeforeTheTokenIsValid) {
    ScriptedSenderPicker picker;
    ServerHarness harness(ServerHarness::Options{&picker, true});
    harness.addSenders({"a", "b"}, "a");
    TokenMinter minter;
    harness.settings().setCloud(true, minter.publicKeyPem(), kIssuer);
    Tokens tokens(minter, harness);
    auto run = [&](const std::string& authorization) {
        return harness.post(runPath(kTokenEchoOp), R"({"eik":"123"})", {{"Authorization", authorization}});
    };

    // Were a dialog opened, it would make b the active sender.
    picker.choose("b", true);
    for (const std::string& bad : {std::string(), tokens.bearer({{"iss", "x"}}),
                                   tokens.bearer({{"jti", nullptr}}), std::string("Bearer x.y.z")}) {
        EXPECT_EQ(run(bad).status, 401);
    }
    EXPECT_TRUE(picker.calls().empty());
    EXPECT_EQ(harness.settings().activeSenderId(), "a");
    picker.clearScript();

    const std::string token = tokens.bearer();
    picker.cancel();
    EXPECT_EQ(run(token).json().at("errorMessage"), "Изборът на подател беше отказан.");
    // The decline holds this requester back for a while.
    harness.steadyNs += std::chrono::nanoseconds(server::DialogGate::kDeclineHold).count();

    picker.choose("b", true);
    picker.choose("b");
    const Answer answer = run(token);
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.json().at("metadata").at("identity"), "EIK-b|5|CERT-b|KEY-b");
    EXPECT_EQ(harness.settings().activeSenderId(), "b");

    // A replayed token may reach the choice, but what was chosen is not kept.
    picker.choose("a", true);
    EXPECT_EQ(run(token).error(), "Submission token already used (replay)");
    EXPECT_EQ(harness.settings().activeSenderId(), "b");
}

}  // namespace
}  // namespace velk::test
