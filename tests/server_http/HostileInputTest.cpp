#include <stdexcept>
#include <string>
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
        {"result not serialisable",
         request("POST", std::string("/api/v1/operations/") + kBadTextOp, "{}", sender), 500,
         "Internal: typed projection produced invalid JSON — "},
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
