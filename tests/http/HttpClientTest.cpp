#include "infrastructure/http/HttpClient.h"

#include <gtest/gtest.h>

#include <curl/curl.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "common/TextUtils.h"
#include "fakes/TestServer.h"
#include "infrastructure/java/JnlpDownloader.h"
#include "support/FileText.h"
#include "support/LogCapture.h"
#include "support/SilentListener.h"
#include "support/TempDir.h"

namespace velk::core::infra::http {
namespace {

using namespace std::chrono_literals;
using test::Reply;
using test::TestServer;

class HttpClientTest : public testing::Test {
protected:
    void SetUp() override {
        server_ = TestServer::plain();
        server_->start();
    }

    std::unique_ptr<HttpClient> client(int timeoutSeconds = 60) {
        HttpClientOptions options;
        options.timeout = std::chrono::seconds(timeoutSeconds);
        return HttpClient::create(std::move(options));
    }

    std::string url(std::string_view path) const { return server_->url(path); }

    // The unit tests never reach the outside world.
    test::ScopedEnv noConnectTo_{"VELK_TEST_CONNECT_TO", std::nullopt};
    std::unique_ptr<TestServer> server_;
};

TEST_F(HttpClientTest, RedirectChainSettingCookiesEndsAtTheFinalResponse) {
    server_->on("GET", "/start",
                Reply::redirect("/middle").setCookie("first=1; Path=/").header("X-Hop", "start"));
    server_->on("GET", "/middle",
                Reply::redirect(url("/final")).setCookie("second=2; Path=/").header("X-Middle", "yes"));
    server_->on("GET", "/final", Reply::text(200, "arrived").header("X-Hop", "final"));

    auto http = client();
    const HttpResponse response = http->get(url("/start"), {});

    EXPECT_EQ(response.error, "");
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "arrived");
    EXPECT_EQ(response.effectiveUrl, url("/final"));
    // Every header block of the chain, the last value per name.
    EXPECT_EQ(response.headers.at("X-Hop"), "final");
    EXPECT_EQ(response.headers.at("X-Middle"), "yes");
    EXPECT_EQ(response.headers.at("Location"), url("/final"));

    const auto finals = server_->requestsTo("/final");
    ASSERT_EQ(finals.size(), 1u);
    EXPECT_EQ(finals[0].cookie("first"), "1");
    EXPECT_EQ(finals[0].cookie("second"), "2");
    const std::string jar = http->cookieList();
    EXPECT_NE(jar.find("\tfirst\t1\n"), std::string::npos) << jar;
    EXPECT_NE(jar.find("\tsecond\t2\n"), std::string::npos) << jar;
}

TEST_F(HttpClientTest, TwoSetCookieHeadersKeepTheLastHeaderButBothCookies) {
    server_->on("GET", "/login", Reply::text(200, "ok").setCookie("a=1; Path=/").setCookie("b=2; Path=/"));

    auto http = client();
    const HttpResponse response = http->get(url("/login"), {});

    EXPECT_EQ(response.headers.at("Set-Cookie"), "b=2; Path=/");
    const std::string jar = http->cookieList();
    EXPECT_NE(jar.find("\ta\t1\n"), std::string::npos) << jar;
    EXPECT_NE(jar.find("\tb\t2\n"), std::string::npos) << jar;
}

TEST_F(HttpClientTest, ErrorStatusIsATransportSuccessWithItsBody) {
    server_->on("GET", "/missing", Reply::text(404, "no such page"));

    auto http = client();
    const HttpResponse response = http->get(url("/missing"), {});
    EXPECT_EQ(response.error, "");
    EXPECT_EQ(response.status, 404);
    EXPECT_EQ(response.body, "no such page");

    const std::vector<std::uint8_t> bytes = http->getBytes(url("/missing"), {});
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "no such page");
}

TEST_F(HttpClientTest, HeaderValueLosesLeadingBlanksAndLineEndOnly) {
    server_->on("GET", "/spaced", Reply::text(200, "").header("X-Spaced", " \t value with end  "));

    const HttpResponse response = client()->get(url("/spaced"), {});
    EXPECT_EQ(response.headers.at("X-Spaced"), "value with end  ");
}

TEST_F(HttpClientTest, FormEchoEscapesValuesButNotNames) {
    server_->on("POST", "/form", [](const test::RecordedRequest& r) { return Reply::text(200, r.body); });

    auto http = client();
    const HttpResponse response =
        http->postForm(url("/form"), {{"name", "a b&c"}, {"x&y=z", "1"}}, {{"Content-Type", "text/ignored"}});

    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.effectiveUrl, "");
    // The map's order decides the order of the pairs.
    EXPECT_TRUE(response.body == "name=a%20b%26c&x&y=z=1" || response.body == "x&y=z=1&name=a%20b%26c")
        << response.body;
    const auto sent = server_->requestsTo("/form");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].headerCount("Content-Type"), 1u);
    EXPECT_EQ(sent[0].header("Content-Type"), "application/x-www-form-urlencoded");
}

TEST_F(HttpClientTest, EmptyFormSendsAnEmptyBody) {
    server_->on("POST", "/form",
                [](const test::RecordedRequest& r) { return Reply::text(200, "[" + r.body + "]"); });
    EXPECT_EQ(client()->postForm(url("/form"), {}, {}).body, "[]");
}

TEST_F(HttpClientTest, PostContentTypeFollowsTheCallersHeaders) {
    struct Case {
        const char* name;
        std::string contentType;
        HttpHeaders headers;
        std::vector<std::string> expected;  // Content-Type lines that arrive, in order
    };
    const std::vector<Case> cases = {
        {"own type", "application/json", {}, {"application/json"}},
        {"caller's exact spelling wins",
         "application/json",
         {{"Content-Type", "text/plain"}},
         {"text/plain"}},
        {"caller's lower-case spelling wins",
         "application/json",
         {{"content-type", "text/plain"}},
         {"text/plain"}},
        {"other spellings are not recognised",
         "application/json",
         {{"CONTENT-TYPE", "text/plain"}},
         {"application/json", "text/plain"}},
        {"none given: libcurl's default", "", {}, {"application/x-www-form-urlencoded"}},
    };
    server_->on("POST", "/echo", Reply::text(200, "ok"));
    auto http = client();
    for (const Case& c : cases) {
        server_->clearRequests();
        http->post(url("/echo"), "{}", c.contentType, c.headers);
        const auto sent = server_->requestsTo("/echo");
        ASSERT_EQ(sent.size(), 1u) << c.name;
        std::vector<std::string> types;
        for (const auto& [name, value] : sent[0].headers) {
            if (iequalsAscii(name, "Content-Type")) {
                types.push_back(value);
            }
        }
        EXPECT_EQ(types, c.expected) << c.name;
    }
}

TEST_F(HttpClientTest, PostCarriesAnyBytesAndNoHeadersOfEarlierRequests) {
    server_->on("POST", "/bin", Reply::text(200, "ok"));
    server_->on("GET", "/plain", Reply::text(200, "ok"));
    const std::string bytes("a\0b\xff\r\n", 6);

    auto http = client();
    const HttpResponse posted = http->post(url("/bin"), bytes, "application/octet-stream", {{"X-Once", "1"}});
    EXPECT_EQ(posted.effectiveUrl, "");
    http->get(url("/plain"), {});

    const auto requests = server_->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].body, bytes);
    EXPECT_EQ(requests[0].header("X-Once"), "1");
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_EQ(requests[1].body, "");
    EXPECT_FALSE(requests[1].header("X-Once"));
}

TEST_F(HttpClientTest, TimeOutIsATransferErrorWithStatusZero) {
    server_->on("GET", "/slow", Reply::text(200, "late").after(30s));

    auto http = client(1);
    const HttpResponse response = http->get(url("/slow"), {});
    EXPECT_EQ(response.status, 0);
    EXPECT_EQ(response.error, curl_easy_strerror(CURLE_OPERATION_TIMEDOUT));
    EXPECT_EQ(response.effectiveUrl, "");

    // A cut-off download is no download.
    EXPECT_TRUE(http->getBytes(url("/slow"), {}).empty());
}

TEST_F(HttpClientTest, GetFreshUsesANewConnectionAndRestoresTheClientsSettings) {
    // The client's limit is well past the fresh request's own 10 s, and the
    // slow answer comes between the two: no request here must beat a short
    // limit.
    server_->on("GET", "/fast", Reply::text(200, "ok"));
    server_->on("GET", "/slow", Reply::text(200, "late").after(12s));

    auto http = client(60);
    http->get(url("/fast"), {});
    http->get(url("/fast"), {});
    const HttpResponse fresh = http->getFresh(url("/fast"), {});
    EXPECT_EQ(fresh.effectiveUrl, url("/fast"));
    http->get(url("/fast"), {});

    const auto requests = server_->requestsTo("/fast");
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].clientPort, requests[1].clientPort);
    EXPECT_NE(requests[2].clientPort, requests[1].clientPort);
    EXPECT_EQ(requests[3].clientPort, requests[1].clientPort);

    // The client's own limit is back: the fresh request's would cut this off.
    const HttpResponse slow = http->get(url("/slow"), {});
    EXPECT_EQ(slow.status, 200) << slow.error;
    EXPECT_EQ(slow.body, "late");
}

TEST_F(HttpClientTest, TransferFailuresComeBackAsErrors) {
    server_->on("GET", "/loop", Reply::redirect("/loop"));
    HttpClientOptions options;
    options.maxRedirects = 2;
    auto http = HttpClient::create(options);

    const HttpResponse looped = http->get(url("/loop"), {});
    EXPECT_EQ(looped.status, 0);
    EXPECT_EQ(looped.error, curl_easy_strerror(CURLE_TOO_MANY_REDIRECTS));
    EXPECT_EQ(server_->requestsTo("/loop").size(), 3u);

    const HttpResponse unresolved = http->get("http://no-such-host.invalid/", {});
    EXPECT_EQ(unresolved.status, 0);
    EXPECT_EQ(unresolved.error, curl_easy_strerror(CURLE_COULDNT_RESOLVE_HOST));
}

TEST_F(HttpClientTest, FactoriesIdentifyThemselves) {
    server_->on("GET", "/ua", Reply::text(200, "ok"));
    const std::vector<std::pair<std::unique_ptr<HttpClient>, std::string>> cases = [] {
        std::vector<std::pair<std::unique_ptr<HttpClient>, std::string>> out;
        out.emplace_back(HttpClient::create({}),
                         "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36");
        out.emplace_back(HttpClient::forAgent(), "VezoRodarC/0.1");
        out.emplace_back(HttpClient::forCloud(), "VezoRodarC/0.1 (+vezorodar.bg)");
        return out;
    }();
    for (const auto& [http, agent] : cases) {
        server_->clearRequests();
        http->get(url("/ua"), {});
        const auto sent = server_->requestsTo("/ua");
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].header("User-Agent"), agent);
    }
}

struct ProtocolCase {
    const char* name;
    std::string url;
};

// Every client of the agent speaks http and https only, for the first URL
// and for every redirect: a Location cannot read a local file or make the
// agent send chosen bytes to another host and port over gopher, ftp or dict.
TEST_F(HttpClientTest, EveryClientReachesHttpAndHttpsOnly) {
    test::TempDir dir;
    const std::string secret = dir.sub("secret.txt");
    std::ofstream(secret) << "local secret";
    const test::SilentListener host;
    const std::string hostPort = "127.0.0.1:" + std::to_string(host.port());
    const std::vector<ProtocolCase> cases = {
        {"file", "file://" + secret},
        {"gopher", "gopher://" + hostPort + "/_GET%20/"},
        {"ftp", "ftp://" + hostPort + "/x"},
        {"dict", "dict://" + hostPort + "/d:x"},
        {"a redirect to file", url("/to-file")},
        {"a redirect to gopher", url("/to-gopher")},
        {"a redirect to ftp", url("/to-ftp")},
    };
    server_->on("GET", "/to-file", Reply::redirect(cases[0].url));
    server_->on("GET", "/to-gopher", Reply::redirect(cases[1].url));
    server_->on("GET", "/to-ftp", Reply::redirect(cases[2].url));

    std::vector<std::pair<const char*, std::unique_ptr<HttpClient>>> clients;
    clients.emplace_back("default options", HttpClient::create({}));
    clients.emplace_back("portal", HttpClient::forPortal("", ""));
    clients.emplace_back("agency REST", HttpClient::forAgent());
    clients.emplace_back("cloud", HttpClient::forCloud());
    for (const auto& [clientName, http] : clients) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(clientName) + ", " + c.name);
            const HttpResponse response = http->get(c.url, {});
            EXPECT_TRUE(HttpClient::refusedProtocol(response)) << response.error;
            EXPECT_EQ(response.body.find("local secret"), std::string::npos);
            EXPECT_FALSE(host.connected());
        }
    }
    // The JNLP downloads' anonymous GET, a libcurl handle of its own.
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("JNLP, ") + c.name);
        std::string body;
        EXPECT_FALSE(java::JnlpDownloader::httpGet(c.url, body));
        EXPECT_EQ(body.find("local secret"), std::string::npos);
        EXPECT_FALSE(host.connected());
    }
    // A client limited to https refuses plain http too, also after a redirect.
    HttpClientOptions httpsOnly;
    httpsOnly.protocols = "https";
    auto strict = HttpClient::create(httpsOnly);
    server_->clearRequests();
    server_->on("GET", "/plain", Reply::text(200, "plain"));
    EXPECT_TRUE(HttpClient::refusedProtocol(strict->get(url("/plain"), {})));
    EXPECT_TRUE(server_->requestsTo("/plain").empty());
    server_->on("GET", "/to-plain", Reply::redirect(url("/plain")));
    EXPECT_TRUE(HttpClient::refusedProtocol(strict->get(url("/to-plain"), {})));
    EXPECT_TRUE(server_->requests().empty());
}

TEST_F(HttpClientTest, CookieJarLinesAndInstalledCookies) {
    auto http = client();
    EXPECT_EQ(http->cookieList(), "");

    http->addCookie("sid", "v1", "127.0.0.1", "/", false);
    http->addCookie("wide", "v2", ".example.test", "/app", true);
    const std::string jar = http->cookieList();
    EXPECT_NE(jar.find("127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tv1\n"), std::string::npos) << jar;
    EXPECT_NE(jar.find(".example.test\tTRUE\t/app\tTRUE\t0\twide\tv2\n"), std::string::npos) << jar;

    // Same name, domain and path: replaced.
    http->addCookie("sid", "v3", "127.0.0.1", "/", false);
    server_->on("GET", "/who", Reply::text(200, "ok"));
    http->get(url("/who"), {});
    const auto sent = server_->requestsTo("/who");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].cookie("sid"), "v3");
    EXPECT_FALSE(sent[0].cookie("wide"));

    http->clearCookies();
    EXPECT_EQ(http->cookieList(), "");
}

TEST_F(HttpClientTest, CookieFileIsWrittenOnDestructionAndReadByTheNextClient) {
    test::TempDir dir;
    server_->on("GET", "/set", Reply::text(200, "ok").setCookie("kept=yes; Path=/; Max-Age=3600"));
    server_->on("GET", "/use", Reply::text(200, "ok"));
    HttpClientOptions options;
    options.cookieFile = dir.sub("cookies.txt");

    HttpClient::create(options)->get(url("/set"), {});
    const std::string cookies = test::readFileText(options.cookieFile);
    EXPECT_NE(cookies.find("\tkept\tyes"), std::string::npos) << cookies;

    HttpClient::create(options)->get(url("/use"), {});
    const auto sent = server_->requestsTo("/use");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].cookie("kept"), "yes");
}

TEST_F(HttpClientTest, ConnectToSendsProductionNamesToTheLoopbackServer) {
    test::ScopedEnv connectTo("VELK_TEST_CONNECT_TO",
                              " , " + server_->connectTo("portal.example.test", 80) + " ,");
    server_->on("GET", "/home", Reply::text(200, "home").setCookie("sid=1; Path=/"));

    auto http = client();
    const HttpResponse response = http->get("http://portal.example.test/home", {});
    EXPECT_EQ(response.body, "home");
    EXPECT_EQ(response.effectiveUrl, "http://portal.example.test/home");
    const auto sent = server_->requestsTo("/home");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].header("Host"), "portal.example.test");
    EXPECT_EQ(http->cookieList().rfind("portal.example.test\t", 0), 0u) << http->cookieList();
}

TEST_F(HttpClientTest, VerboseLogMasksCookieValues) {
    server_->on("GET", "/secret", Reply::text(200, "ok").setCookie("session=TOPSECRET42; Path=/"));

    test::LogCapture capture;
    auto http = client();
    http->get(url("/secret"), {{"Authorization", "Bearer APIKEY77"}});
    http.reset();

    EXPECT_GT(capture.count("INFO", "curl: "), 0);
    EXPECT_EQ(capture.count("INFO", "curl: Added cookie session=\"***\" for domain 127.0.0.1"), 1);
    for (const std::string& line : capture.stop()) {
        EXPECT_EQ(line.find("TOPSECRET42"), std::string::npos) << line;
        EXPECT_EQ(line.find("APIKEY77"), std::string::npos) << line;
    }
}

TEST_F(HttpClientTest, BodyLongerThanTheLimitIsAFailedTransfer) {
    server_->on("GET", "/small", Reply::text(200, std::string(1000, 'a')));
    server_->on("GET", "/large", Reply::text(200, std::string(5000, 'b')));
    HttpClientOptions options;
    options.maxBodyBytes = 1000;
    auto http = HttpClient::create(options);

    const HttpResponse small = http->get(url("/small"), {});
    EXPECT_EQ(small.error, "");
    EXPECT_EQ(small.body.size(), 1000u);

    const HttpResponse large = http->get(url("/large"), {});
    EXPECT_EQ(large.status, 0);
    EXPECT_NE(large.error, "");
    EXPECT_TRUE(http->getBytes(url("/large"), {}).empty());
}

}  // namespace
}  // namespace velk::core::infra::http
