#include <curl/curl.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "fakes/TestServer.h"
#include "infrastructure/http/HttpClient.h"
#include "support/PollUntil.h"
#include "support/TempDir.h"

namespace velk::core::infra::http {
namespace {

using namespace std::chrono_literals;
using test::pollUntil;
using test::Reply;
using test::TestServer;

class HttpClientCancelTest : public testing::Test {
protected:
    void SetUp() override {
        server_ = TestServer::plain();
        server_->start();
    }

    std::unique_ptr<HttpClient> client(int timeoutSeconds) {
        HttpClientOptions options;
        options.timeout = std::chrono::seconds(timeoutSeconds);
        return HttpClient::create(std::move(options));
    }

    std::string url(std::string_view path) const { return server_->url(path); }

    test::ScopedEnv noConnectTo_{"VELK_TEST_CONNECT_TO", std::nullopt};
    std::unique_ptr<TestServer> server_;
};

// What a worker thread waits on ends when its owner cancels the client, long
// before the time-out; the cancelled client starts no transfer again.
TEST_F(HttpClientCancelTest, CancelFromAnotherThreadEndsTheWaitingTransferAndEveryLaterOne) {
    server_->on("GET", "/stalled", Reply::text(200, "late").after(300s));
    server_->on("GET", "/fast", Reply::text(200, "ok"));
    auto http = client(600);

    HttpResponse waited;
    std::thread worker([&] { waited = http->get(url("/stalled"), {}); });
    const bool arrived = pollUntil([&] { return !server_->requestsTo("/stalled").empty(); },
                                   [] { std::this_thread::sleep_for(10ms); });
    EXPECT_TRUE(arrived) << "the stalled request never reached the server";
    http->cancel();
    worker.join();

    EXPECT_EQ(waited.status, 0);
    EXPECT_EQ(waited.error, curl_easy_strerror(CURLE_ABORTED_BY_CALLBACK));
    EXPECT_EQ(waited.body, "");

    const HttpResponse later = http->get(url("/fast"), {});
    EXPECT_EQ(later.status, 0);
    EXPECT_NE(later.error, "");
    EXPECT_TRUE(http->getBytes(url("/fast"), {}).empty());
    EXPECT_TRUE(server_->requestsTo("/fast").empty());
}

}  // namespace
}  // namespace velk::core::infra::http
