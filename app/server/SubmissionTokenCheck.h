#pragma once

#include <cstdint>
#include <string>

#include "common/JsonUtils.h"

namespace velk::server {

// How a run request's submission token was judged.
struct TokenVerdict {
    bool passed = false;
    // When not passed: the answer's status and body.
    int status = 0;
    core::json answer;
    // When passed: the token's id for the replay guard, its expiry, and
    // whether it asks for a test run.
    std::string jti;
    std::int64_t exp = 0;
    bool testRun = false;
};

// What a token is held against.
struct TokenExpectations {
    std::string publicKeyPem;
    std::string issuer;
    std::string typeId;
    std::string bodyText;  // the run's parameters; their "eik" (text or digits) must match the claim
    std::int64_t nowSeconds = 0;
};

// The submission token of an operation run when cloud mode asks for one.
class SubmissionTokenCheck {
public:
    // Every check but the replay guard, which the caller applies once the
    // sender is settled. authorization is the header's text.
    static TokenVerdict verify(const std::string& authorization, const TokenExpectations& expected);

    // Without verification: whether a bearer token's claims ask for a test
    // run. A missing or garbled token is no test run.
    static bool unverifiedTestRun(const std::string& authorization);
};

}  // namespace velk::server
