#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/AgentVersion.h"
#include "common/JsonUtils.h"
#include "engine/InMemorySettings.h"
#include "engine/VelkEngine.h"
#include "server/HttpServer.h"
#include "server_http/RawHttp.h"
#include "server_http/ServerHarness.h"
#include "service_routes/ScriptedFilePicker.h"
#include "service_routes/ScriptedValidator.h"
#include "support/LogCapture.h"
#include "support/PollUntil.h"

namespace velk::test {
namespace {

using core::json;

constexpr std::int64_t kSecondNs = 1'000'000'000;

std::string request(const std::string& method, const std::string& path, const std::string& body = "") {
    return method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
           "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           body;
}

bool connects(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return ok;
}

// A thread that runs posted tasks in order, as the GUI thread runs queued calls.
class TaskThread {
public:
    TaskThread() : thread_([this] { run(); }) {}
    ~TaskThread() {
        {
            std::lock_guard lock(mutex_);
            ending_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    void post(std::function<void()> task) {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        changed_.notify_all();
    }
    std::thread::id id() const { return thread_.get_id(); }

private:
    void run() {
        std::unique_lock lock(mutex_);
        while (true) {
            changed_.wait(lock, [&] { return ending_ || !tasks_.empty(); });
            if (tasks_.empty()) {
                return;
            }
            std::function<void()> task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> tasks_;
    bool ending_ = false;
    std::thread thread_;
};

TEST(HealthAndInfo, HealthCountsWholeSecondsSinceStartAndIsNeverLogged) {
    ServerHarness harness;
    LogCapture log;
    const std::int64_t started = harness.steadyNs.load();
    struct Case {
        std::int64_t sinceStartNs;
        std::int64_t uptime;
    };
    for (const Case c :
         {Case{0, 0}, Case{kSecondNs - 1, 0}, Case{kSecondNs, 1}, Case{61 * kSecondNs + 5, 61}}) {
        harness.steadyNs = started + c.sinceStartNs;
        const Answer answer = harness.get("/api/health");
        ASSERT_EQ(answer.status, 200);
        EXPECT_EQ(answer.json(),
                  (json{{"status", "ok"}, {"version", core::versionString()}, {"uptimeSec", c.uptime}}));
        EXPECT_EQ(answer.header("Content-Type"), "application/json; charset=utf-8");
    }
    harness.get("/api/info");
    harness.server().stop();  // the access lines are written after the answers
    EXPECT_EQ(log.count("INFO", "/api/health"), 0);
    EXPECT_EQ(log.count("INFO", "GET /api/info -> 200"), 1);
}

TEST(HealthAndInfo, InfoKeepsItsFixedTexts) {
    ServerHarness harness;
    const Answer answer = harness.get("/api/info");
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, R"({"agentVersion":")" + core::versionString() +
                               R"(","os":"windows","signerBackend":"windows-native"})");
}

TEST(Shutdown, AnswersTheFixedTextThenStopsFromItsOwnThread) {
    auto harness = std::make_unique<ServerHarness>();
    const int port = harness->port();
    LogCapture log;

    const RawAnswer answer = rawExchange(port, request("POST", "/api/shutdown", "{}"));
    EXPECT_EQ(answer.status, 202);
    EXPECT_EQ(answer.body, R"({"status":"stopping"})");
    EXPECT_EQ(answer.headers.at("content-type"), "application/json");
    EXPECT_EQ(answer.headers.at("access-control-allow-origin"), "*");

    // Nobody here calls stop: the server stops itself.
    EXPECT_TRUE(pollUntil([port] { return !connects(port); },
                          [] { std::this_thread::sleep_for(std::chrono::milliseconds(5)); }))
        << "the server still takes connections";

    // Stopping again does nothing; destroying the server right away joins the
    // thread that stopped it (a detached one would outlive its server).
    harness->server().stop();
    harness.reset();
    EXPECT_EQ(log.count("INFO", "POST /api/shutdown -> 202"), 1);
    EXPECT_EQ(log.count("INFO", "HTTP listener exited"), 1);
}

TEST(Shutdown, TheServerCanGoAtOnceAfterTheAnswer) {
    // The destructor may run while the stopping thread is still at work; a
    // thread the server did not join would then use it after its end (which
    // the address sanitizer reports, in some of the rounds).
    core::VelkEngine engine{std::make_unique<InMemorySettings>()};
    for (int round = 0; round < 200; ++round) {
        server::HttpServer server(&engine, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
        ASSERT_TRUE(server.start());
        EXPECT_EQ(rawExchange(server.port(), request("POST", "/api/shutdown")).status, 202);
    }
}

class PickerRoutesTest : public ::testing::Test {
protected:
    PickerRoutesTest()
        : picker([this](std::function<void()> task) { gui.post(std::move(task)); }),
          harness(ServerHarness::Options{nullptr, true, &picker, nullptr}) {}

    TaskThread gui;
    ScriptedFilePicker picker;
    ServerHarness harness;
};

TEST_F(PickerRoutesTest, PassStartFolderAndFilterToTheDialogOnTheGuiThread) {
    struct Case {
        const char* name;
        const char* route;
        std::string body;
        std::string chosen;
        bool folder;
        std::string startDir;
        std::string filter;
    };
    const std::vector<Case> cases = {
        {"file with filter", "/api/pick-file", R"j({"filter":"XML (*.xml)","startDir":"/home/u/Документи"})j",
         "/home/u/Документи/d.xml", false, "/home/u/Документи", "XML (*.xml)"},
        {"file, cancelled", "/api/pick-file", R"({"startDir":"/tmp"})", "", false, "/tmp", ""},
        {"folder ignores a filter", "/api/pick-folder", R"({"startDir":"/srv","filter":"*.txt"})", "/srv/vat",
         true, "/srv", ""},
        {"folder, cancelled", "/api/pick-folder", "{}", "", true, "", ""},
        {"a body that is not JSON", "/api/pick-file", "startDir=/etc", "", false, "", ""},
        {"unknown members", "/api/pick-folder", R"({"path":"/x"})", "/y", true, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = picker.calls().size();
        picker.choose(c.chosen);
        const Answer answer = harness.post(c.route, c.body);
        ASSERT_EQ(answer.status, 200) << answer.body;
        EXPECT_EQ(answer.json(), (json{{"path", c.chosen}}));
        const auto calls = picker.calls();
        ASSERT_EQ(calls.size(), before + 1);
        EXPECT_EQ(calls.back().folder, c.folder);
        EXPECT_EQ(calls.back().startDir, c.startDir);
        EXPECT_EQ(calls.back().filter, c.filter);
        EXPECT_EQ(calls.back().thread, gui.id());
    }
}

TEST_F(PickerRoutesTest, AFieldOfAnotherTypeEndsInTheGenericError) {
    LogCapture log;
    for (const std::string body : {R"({"startDir":5})", R"({"filter":null})", "[1,2]"}) {
        SCOPED_TRACE(body);
        const Answer answer = harness.post("/api/pick-file", body);
        EXPECT_EQ(answer.status, 500);
        EXPECT_EQ(answer.body, R"({"error":"internal error"})");
    }
    EXPECT_TRUE(picker.calls().empty());
    EXPECT_EQ(log.count("ERROR", "HTTP handler threw on POST /api/pick-file"), 3);
}

TEST(PickerRoutes, AStoppingServerNoLongerWaitsForTheDialog) {
    std::vector<std::function<void()>> parked;  // the GUI thread never gets to them
    std::mutex parkedMutex;
    ScriptedFilePicker picker([&](std::function<void()> task) {
        std::lock_guard lock(parkedMutex);
        parked.push_back(std::move(task));
    });
    ServerHarness harness(ServerHarness::Options{nullptr, true, &picker, nullptr});
    picker.choose("/never");

    Answer answer;
    std::thread client([&] { answer = harness.post("/api/pick-folder", "{}"); });
    ASSERT_TRUE(picker.waitForPosts(1)) << "the file dialog was never posted";
    harness.server().stop();
    client.join();
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json(), (json{{"path", ""}}));

    // When the GUI thread gets to the call at last, no dialog opens.
    for (auto& task : parked) {
        task();
    }
    EXPECT_TRUE(picker.calls().empty());
}

TEST(PickerRoutes, WithoutAPickerAnswerTheEmptyPath) {
    ServerHarness harness;
    for (const char* route : {"/api/pick-file", "/api/pick-folder"}) {
        const Answer answer = harness.post(route, R"({"startDir":"/tmp"})");
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.body, R"({"path":""})");
    }
}

core::SenderProfile fullSender(const std::string& id) {
    core::SenderProfile sender = testSender(id);
    sender.signerEmail = "mail-" + id + "@firm.bg";
    return sender;
}

TEST(SendersRoute, ListsIdNameAndActiveOnly) {
    ServerHarness harness;
    EXPECT_EQ(harness.get("/api/senders").body, R"({"activeSenderId":"","senders":[]})");

    // Ids that differ only in case are different senders.
    for (const char* id : {"s-b", "s-a", "S-A"}) {
        harness.settings().upsertSender(fullSender(id));
    }
    harness.settings().setActiveSender("S-A");
    const Answer answer = harness.get("/api/senders");
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json(), json::parse(R"({"activeSenderId":"S-A","senders":[
        {"active":false,"displayName":"Подател s-b","id":"s-b"},
        {"active":false,"displayName":"Подател s-a","id":"s-a"},
        {"active":true,"displayName":"Подател S-A","id":"S-A"}]})"));
    for (const char* secret : {"EIK-", "CERT-", "KEY-", "mail-", "@firm.bg"}) {
        EXPECT_EQ(answer.body.find(secret), std::string::npos) << secret;
    }

    harness.settings().setActiveSender("");
    const json none = harness.get("/api/senders").json();
    EXPECT_EQ(none.at("activeSenderId"), "");
    for (const json& sender : none.at("senders")) {
        EXPECT_FALSE(sender.at("active").get<bool>());
    }
}

TEST(ValidateRoute, AnswersTheValidatorsErrorsInOrder) {
    ScriptedValidator validator;
    ServerHarness harness(ServerHarness::Options{nullptr, true, nullptr, &validator});
    validator.answer({});
    validator.answer({"DEKLAR.TXT: ред 3: невалиден ДДС номер", "POKUPKI.TXT: липсва"});

    Answer answer = harness.post("/api/validate", R"({"declarationDir":"/vat/2025-01"})");
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, R"({"errors":[],"ok":true})");

    answer = harness.post("/api/validate", R"({"declarationDir":"/vat/2025-02","other":1})");
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body,
              R"({"errors":["DEKLAR.TXT: ред 3: невалиден ДДС номер","POKUPKI.TXT: липсва"],"ok":false})");

    const auto calls = validator.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].declarationDir, "/vat/2025-01");
    EXPECT_EQ(calls[1].declarationDir, "/vat/2025-02");
    EXPECT_FALSE(calls[0].withProgress);
}

TEST(ValidateRoute, RefusesAMissingFolderWithoutCallingTheValidator) {
    ScriptedValidator validator;
    ServerHarness harness(ServerHarness::Options{nullptr, true, nullptr, &validator});
    struct Case {
        std::string body;
        int status;
        std::string answer;
    };
    const std::vector<Case> cases = {
        {"", 400, R"({"error":"declarationDir required"})"},
        {"{}", 400, R"({"error":"declarationDir required"})"},
        {R"({"declarationDir":""})", 400, R"({"error":"declarationDir required"})"},
        {"not json", 400, R"({"error":"declarationDir required"})"},
        {R"({"declarationDir":7})", 500, R"({"error":"internal error"})"},
        {R"(["/vat"])", 500, R"({"error":"internal error"})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        const Answer answer = harness.post("/api/validate", c.body);
        EXPECT_EQ(answer.status, c.status);
        EXPECT_EQ(answer.body, c.answer);
    }
    EXPECT_TRUE(validator.calls().empty());
}

TEST(ValidateRoute, WithoutABridgeTheValidationCannotRun) {
    ServerHarness harness;
    const Answer answer = harness.post("/api/validate", R"({"declarationDir":"/vat"})");
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(
        answer.json(),
        (json{{"ok", false}, {"errors", json::array({"Java или ZezizUR библиотеките не са налични."})}}));
}

}  // namespace
}  // namespace velk::test
