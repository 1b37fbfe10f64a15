#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/JsonUtils.h"
#include "engine/TestOperations.h"
#include "server/HttpServer.h"
#include "server_http/RawHttp.h"
#include "server_http/ServerHarness.h"
#include "support/LogCapture.h"
#include "support/TokenMinter.h"

namespace velk::test {
namespace {

using core::json;

const std::string kEchoPath = std::string("/api/v1/operations/") + kEchoOp;

std::string request(const std::string& method, const std::string& target, const std::string& body = "",
                    const std::string& extraHeaders = "") {
    std::string text =
        method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + extraHeaders;
    if (method == "POST") {
        text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    return text + "\r\n" + body;
}

void expectCors(const RawAnswer& answer) {
    EXPECT_EQ(answer.headers.count("access-control-allow-origin")
                  ? answer.headers.at("access-control-allow-origin")
                  : "<none>",
              "*");
    EXPECT_EQ(answer.headers.count("access-control-allow-headers")
                  ? answer.headers.at("access-control-allow-headers")
                  : "<none>",
              "Content-Type, Authorization, X-Velk-Type-Id, X-Velk-Sender-Id, X-Velk-File-Path");
    EXPECT_EQ(answer.headers.count("access-control-allow-methods")
                  ? answer.headers.at("access-control-allow-methods")
                  : "<none>",
              "GET, POST, DELETE, OPTIONS");
}

class HostileInputTest : public ::testing::Test {
protected:
    HostileInputTest() {
        harness.addSenders({"a"}, "a");
        harness.settings().setCloud(true, minter.publicKeyPem(), "velk-cloud");
    }

    void expectStillServing() {
        const RawAnswer answer = rawExchange(harness.port(), request("GET", "/api/operations"));
        EXPECT_EQ(answer.status, 200);
    }

    TokenMinter minter;
    ServerHarness harness;
};

TEST_F(HostileInputTest, AnswersEveryHostileRequestAndKeepsServing) {
    const std::string sender = "X-Velk-Sender-Id: a\r\n";
    const std::string oldAgent = "Authorization: Bearer " +
                                 minter.mint({{"iss", "velk-cloud"},
                                              {"exp", harness.wallSeconds + 60},
                                              {"typeId", kTokenEchoOp},
                                              {"jti", "j1"},
                                              {"min_ver", "65535.0.0"}}) +
                                 "\r\n";
    struct Case {
        std::string name;
        std::string request;
        int status;
        std::string error;  // prefix of {"error"}, when set
    };
    const std::vector<Case> cases = {
        {"body not JSON", request("POST", kEchoPath, "{oops", sender), 502, "Invalid params JSON: "},
        {"body not UTF-8", request("POST", kEchoPath, "{\"eik\":\"\xFF\"}", sender), 502,
         "Invalid params JSON: "},
        {"body an array", request("POST", kEchoPath, "[1,2]", sender), 200, ""},
        {"body a number", request("POST", kEchoPath, "42", sender), 200, ""},
        {"fields of other types",
         request("POST", kEchoPath, R"({"year":[1],"eik":{"a":1},"x":null})", sender), 200, ""},
        {"sender id not UTF-8", request("POST", kEchoPath, "{}", "X-Velk-Sender-Id: \xFF\xFE\r\n"), 400,
         "Unknown senderId: \xEF\xBF\xBD\xEF\xBF\xBD"},
        {"file path not UTF-8", request("POST", kEchoPath, "{}", sender + "X-Velk-File-Path: \xC3\r\n"), 200,
         ""},
        {"control bytes in the path", request("GET", "/api/%0D%0AINFO%20forged%00"), 404, ""},
        {"preflight to an unknown path", request("OPTIONS", "/no/such/path"), 204, ""},
        {"preflight to a run", request("OPTIONS", kEchoPath), 204, ""},
        {"typeId outside the pattern", request("POST", "/api/v1/operations/Due-Amounts", "{}"), 404, ""},
        {"run with GET", request("GET", kEchoPath), 404, ""},
        {"no token", request("POST", std::string("/api/v1/operations/") + kTokenEchoOp, "{}", sender), 401,
         "Authorization: Bearer <JWT> required"},
        {"agent too old",
         request("POST", std::string("/api/v1/operations/") + kTokenEchoOp, "{}", sender + oldAgent), 426,
         "Agent update required"},
        {"result with text that is not UTF-8",
         request("POST", std::string("/api/v1/operations/") + kBadTextOp, "{}", sender), 200, ""},
        {"body over the limit",
         request("POST", kEchoPath, std::string(server::HttpServer::kMaxBodyBytes + 1, ' '), sender), 413,
         ""},
        {"body at the limit",
         request("POST", kEchoPath, "{}" + std::string(server::HttpServer::kMaxBodyBytes - 2, ' '), sender),
         200, ""},
        {"not HTTP", "GARBAGE\r\n\r\n", 400, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RawAnswer answer = rawExchange(harness.port(), c.request);
        EXPECT_EQ(answer.status, c.status) << answer.body.substr(0, 200);
        expectCors(answer);
        if (!c.error.empty()) {
            const json body = json::parse(answer.body);
            EXPECT_TRUE(body.at("error").get<std::string>().starts_with(c.error)) << answer.body;
        }
        if (c.status == 204) {
            EXPECT_EQ(answer.body, "");
        }
        expectStillServing();
    }
}

// Any web page may send these as text/plain, without a preflight: nesting
// deep enough to run the stack out of any code that recurses on it.
TEST_F(HostileInputTest, DeeplyNestedBodiesAreRefusedOnEveryRoute) {
    constexpr std::size_t kDepth = 100'000;
    std::string deepObject;
    for (std::size_t i = 0; i < kDepth; ++i) {
        deepObject += R"({"a":)";
    }
    deepObject += "1" + std::string(kDepth, '}');
    const std::vector<std::pair<std::string, std::string>> bodies = {
        {"arrays", std::string(kDepth, '[') + std::string(kDepth, ']')},
        {"objects", deepObject},
    };
    const std::string sender = "X-Velk-Sender-Id: a\r\n";
    // A token for the run of each body.
    const auto token = [&](const std::string& jti) {
        return "Authorization: Bearer " +
               minter.mint({{"iss", "velk-cloud"},
                            {"exp", harness.wallSeconds + 60},
                            {"typeId", kTokenEchoOp},
                            {"eik", "123"},
                            {"jti", jti}}) +
               "\r\n";
    };
    struct Case {
        std::string path;
        std::string headers;
        int status;
        std::string error;  // prefix of {"error"}, when set
    };
    // What each route answers a body that does not parse.
    const auto routes = [&](const std::string& shape) -> std::vector<Case> {
        return {
            {"/api/pick-folder", "", 200, ""},
            {"/api/pick-file", "", 200, ""},
            {"/api/certificates/c1/select", "", 200, ""},
            {"/api/certificates/c1/pin", "", 400, "pin required"},
            {"/api/validate", "", 400, "declarationDir required"},
            {"/api/submissions", "", 400, "declarationDir and signerEmail are required"},
            {kEchoPath, sender, 502, "Invalid params JSON: "},
            {std::string("/api/v1/operations/") + kTokenEchoOp, sender + token(shape), 502,
             "Invalid params JSON: "},
        };
    };
    for (const auto& [shape, body] : bodies) {
        for (const auto& c : routes(shape)) {
            SCOPED_TRACE(shape + " to " + c.path);
            const RawAnswer answer = rawExchange(
                harness.port(), request("POST", c.path, body, "Content-Type: text/plain\r\n" + c.headers));
            EXPECT_EQ(answer.status, c.status) << answer.body.substr(0, 200);
            if (!c.error.empty()) {
                EXPECT_TRUE(json::parse(answer.body).at("error").get<std::string>().starts_with(c.error))
                    << answer.body;
            }
            EXPECT_EQ(rawExchange(harness.port(), request("GET", "/api/health")).status, 200);
        }
    }
}

// The library bounds only a body with a Content-Length by itself.
TEST_F(HostileInputTest, BodiesOfEveryFramingStopAtTheLimit) {
    const std::size_t limit = server::HttpServer::kMaxBodyBytes;
    const auto chunked = [](const std::string& body) {
        constexpr std::size_t kChunk = 1 << 20;
        std::string out;
        for (std::size_t at = 0; at < body.size(); at += kChunk) {
            const std::string part = body.substr(at, kChunk);
            std::ostringstream size;
            size << std::hex << part.size();
            out += size.str() + "\r\n" + part + "\r\n";
        }
        return out + "0\r\n\r\n";
    };
    const auto head = [](const std::string& method, const std::string& target, const std::string& headers) {
        return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + headers +
               "\r\n";
    };
    const std::string sender = "X-Velk-Sender-Id: a\r\n";
    const std::string isChunked = "Transfer-Encoding: chunked\r\n";
    const std::string over(limit + 1, ' ');
    const std::string multipartType = "Content-Type: multipart/form-data; boundary=b\r\n";
    const auto multipart = [](const std::string& content) {
        return "--b\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\n" + content + "\r\n--b--\r\n";
    };
    struct Case {
        std::string name;
        std::string request;
        int status;
    };
    const std::vector<Case> cases = {
        {"chunked, over the limit", head("POST", kEchoPath, sender + isChunked) + chunked(over), 413},
        {"chunked, at the limit",
         head("POST", kEchoPath, sender + isChunked) + chunked("{}" + std::string(limit - 2, ' ')), 200},
        {"chunked, small",
         head("POST", "/api/submissions", isChunked) +
             chunked(R"({"declarationDir":"/d","signerEmail":"e"})"),
         202},
        {"read to the end, over the limit", head("POST", kEchoPath, sender) + over, 413},
        {"chunked to a path without a route", head("POST", "/api/none", isChunked) + chunked(over), 413},
        {"chunked to a method without a route", head("PUT", "/api/health", isChunked) + chunked(over), 413},
        {"chunked, with a length, to a delete",
         head("DELETE", "/api/submissions/x", isChunked + "Content-Length: 4\r\n") + chunked(over), 413},
        {"multipart, over the limit",
         head("POST", "/api/pick-folder", multipartType + isChunked) + chunked(multipart(over)), 413},
        {"multipart, small, reads as no body",
         head("POST", "/api/pick-folder", multipartType + isChunked) + chunked(multipart("{}")), 200},
        // The library would read this body too: answered before it starts.
        {"a method without routes", head("PRI", "/", isChunked), 404},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RawAnswer answer = rawExchangeWhileSending(harness.port(), c.request);
        EXPECT_EQ(answer.status, c.status) << answer.body.substr(0, 200);
        expectCors(answer);
        expectStillServing();
    }
}

TEST_F(HostileInputTest, AnEscapedExceptionBecomesTheGenericAnswer) {
    struct Case {
        std::function<void()> thrower;
        std::string detail;
    };
    const std::vector<Case> cases = {
        {[] { throw std::runtime_error("store\nbroken"); }, "store\\x0Abroken"},
        {[] { throw 42; }, "unknown"},
    };
    for (const auto& c : cases) {
        harness.settings().onListSenders(c.thrower);
        LogCapture log;
        const RawAnswer answer = rawExchange(harness.port(), request("POST", kEchoPath, "{}"));
        EXPECT_EQ(answer.status, 500);
        EXPECT_EQ(answer.body, R"({"error":"internal error"})");
        EXPECT_EQ(answer.headers.at("content-type"), "application/json; charset=utf-8");
        expectCors(answer);
        EXPECT_EQ(log.count("ERROR", "HTTP handler threw on POST " + kEchoPath + ": " + c.detail), 1);
        harness.settings().onListSenders({});
        expectStillServing();
    }
}

TEST_F(HostileInputTest, TheAccessLogWritesOneSafeLinePerRequest) {
    LogCapture log;
    rawExchange(harness.port(),
                request("POST", kEchoPath, "{}", "X-Velk-Sender-Id: a\r\nX-Velk-Type-Id: due_amounts\r\n"));
    rawExchange(harness.port(), request("GET", "/api/health"));
    rawExchange(harness.port(), request("GET", "/api/%0D%0AINFO%20forged"));
    rawExchange(harness.port(), request("OPTIONS", "/anything"));
    rawExchange(harness.port(), request("GET", "/api/operations", "", "X-Velk-Type-Id: a\x01z\r\n"));
    // Lines are written once the answer is out; the stop waits for them all.
    harness.server().stop();
    const auto lines = log.stop();

    std::vector<std::string> access;
    for (const auto& line : lines) {
        if (line.find("forged") != std::string::npos) {
            EXPECT_NE(line.find("/api/\\x0D\\x0AINFO forged"), std::string::npos) << line;
        }
        if (line.find("[INFO ]") != std::string::npos && line.find(" -> ") != std::string::npos) {
            access.push_back(line.substr(line.find("] ") + 2));
        }
    }
    EXPECT_THAT(access, ::testing::UnorderedElementsAre(
                            "POST " + kEchoPath + " -> 200 [type=due_amounts] from 127.0.0.1",
                            "GET /api/\\x0D\\x0AINFO forged -> 404 from 127.0.0.1",
                            "OPTIONS /anything -> 204 from 127.0.0.1",
                            "GET /api/operations -> 200 [type=a\\x01z] from 127.0.0.1"));
}

}  // namespace
}  // namespace velk::test
