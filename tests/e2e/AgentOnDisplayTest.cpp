// The built agent on an X display, as a user meets it: a web application
// posts a real run to the local API, the sender picker appears on the screen,
// and the run goes to the agency only when the user presses "Избери".
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "e2e/DialogDriver.h"
#include "e2e/Subprocess.h"
#include "e2e/TestDesktop.h"
#include "fakes/LoopbackHosts.h"
#include "fakes/agency/FakeAgency.h"
#include "support/CertStoreFolder.h"
#include "support/FileText.h"
#include "support/FreePort.h"
#include "support/LoopingPage.h"
#include "support/TempDir.h"

namespace velk::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

// Generous, for slow CI machines; every wait still ends.
constexpr std::chrono::seconds kDeadline{60};

constexpr const char* kPickerTitle = "VELK Agent — Избор на подател";
constexpr const char* kPinTitle = "PIN за електронен подпис";
constexpr const char* kSenderId = "s-00000000e2e1";
constexpr const char* kSenderName = "Тестова фирма ЕООД";
constexpr const char* kOrigin = "https://app.example.test";
constexpr const char* kLoopOrigin = "https://loop.example.test";
constexpr const char* kEik = "123456789";
constexpr const char* kObligations = "/api/base/debt-payments";

// One answer of the local API.
struct Answer {
    int status = 0;  // 0: no answer (connection failed or timed out)
    std::string body;
};

// Every request any host of the fake agency received.
std::size_t agencyContacts(FakeAgency& agency) {
    return agency.portal().requests().size() + agency.login().requests().size() +
           agency.api().requests().size();
}

// The fake agency's due amounts for the sender's query, as the web
// application receives them.
void expectDueAmounts(const Answer& answer) {
    ASSERT_EQ(answer.status, 200) << answer.body;
    const json result = json::parse(answer.body);
    EXPECT_EQ(result["status"], "ok") << answer.body;
    EXPECT_EQ(result["rowCount"], 2);
    EXPECT_EQ(result["totalOutstanding"], 5200.5);
    EXPECT_EQ(result["totalInterest"], 44.35);
}

// Whether a login handshake presented a client certificate whose subject
// holds subjectPart.
bool loginPresented(FakeAgency& agency, const std::string& subjectPart) {
    for (const auto& request : agency.login().requests()) {
        if (request.clientCertSubject.find(subjectPart) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// True once done holds; false when kDeadline passes first.
template <class Done>
bool waitFor(Done done) {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

class AgentOnDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        try {
            desktop_ = std::make_unique<TestDesktop>(home_.dir().sub("desktop"));
        } catch (const std::exception& e) {
            FAIL() << e.what();
        }
        driver_ = std::make_unique<DialogDriver>(*desktop_, VELK_E2E_SCRIPT_DIR, home_.dir().str());

        // A certificate of the agency's test CA, with its key in the store
        // (no PIN), and the one sender that uses it.
        const TestIdentity identity = hosts_.pki().issue();
        CertStoreFolder().addSoftware("e2e-sender", identity);
        writeSettings(identity.thumbprint());
    }

    void TearDown() override {
        // The agent first: a run still waiting for its answer ends with it.
        if (agent_) {
            agent_->stop();
        }
    }

    std::string agentFolder() const { return home_.dataHome() + "/VEZORodar"; }
    std::string log() const { return readFileText(agentFolder() + "/Logs/VezoRodarC.log"); }

    void writeSettings(const std::string& certificateId) const {
        std::filesystem::create_directories(agentFolder());
        const json settings = {{"schemaVersion", 2},
                               {"activeSenderId", kSenderId},
                               {"senders",
                                {{{"id", kSenderId},
                                  {"displayName", kSenderName},
                                  {"identifier", kEik},
                                  {"identifierType", "BUS_BULSTAT"},
                                  {"certificateId", certificateId},
                                  {"signerEmail", ""},
                                  {"apiKey", ""}}}}};
        std::ofstream(agentFolder() + "/settings.json") << settings.dump(2);
    }

    // The agent on the test's display, its seams pointed at the fake agency.
    void startAgent() {
        auto environment = desktop_->environment();
        const std::map<std::string, std::string> own = {{"HOME", home_.dir().str()},
                                                        {"XDG_DATA_HOME", home_.dataHome()},
                                                        {"XDG_CONFIG_HOME", home_.configHome()},
                                                        {"QT_QPA_PLATFORM", "xcb"},
                                                        // Without a screen reader's switch on the bus, Qt
                                                        // offers its widgets over AT-SPI only when told to.
                                                        {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"},
                                                        {"LANG", "C.UTF-8"},
                                                        {"VELK_TEST_PORT", std::to_string(port_)},
                                                        {"VELK_TEST_CONNECT_TO", hosts_.connectToEntries()},
                                                        {"VELK_TEST_CA_FILE", hosts_.caFile()}};
        for (const auto& [name, value] : own) {
            environment[name] = value;
        }
        agent_ = std::make_unique<Subprocess>(Subprocess::Options{
            {VELK_AGENT_EXE}, isolatedEnvironment(environment), home_.dir().sub("agent.log"), false});
    }

    httplib::Client client() const {
        httplib::Client http("127.0.0.1", port_);
        http.set_connection_timeout(5);
        // A run waits for the user; the dialog's own deadline comes first.
        http.set_read_timeout(3 * kDeadline.count());
        return http;
    }

    bool waitUntilServing() const {
        const auto end = std::chrono::steady_clock::now() + kDeadline;
        while (agent_->running() && std::chrono::steady_clock::now() < end) {
            if (auto answer = client().Get("/api/health"); answer && answer->status == 200) {
                return true;
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    // Posts a real run (no test token) as the web application at kOrigin
    // does; the answer comes once the user has answered the picker.
    std::shared_future<Answer> postRun(const std::string& typeId, const json& params) {
        auto run = std::async(std::launch::async, [this, typeId, body = params.dump()] {
                       const auto answer = client().Post(
                           "/api/v1/operations/" + typeId,
                           {{"X-Velk-Sender-Id", kSenderId}, {"Origin", kOrigin}}, body, "application/json");
                       return answer ? Answer{answer->status, answer->body} : Answer{};
                   }).share();
        runs_.push_back(run);
        return run;
    }

    static bool answered(const std::shared_future<Answer>& run, std::chrono::seconds deadline) {
        return run.wait_for(deadline) == std::future_status::ready;
    }

    // Presses the button in the picker shown for requester. A picker for
    // someone else (one just closing, say) is looked at again until giveUp
    // holds or the deadline passes.
    std::string pressFor(const std::string& requester, const std::string& button,
                         const std::function<bool()>& giveUp) {
        const auto end = std::chrono::steady_clock::now() + kDeadline;
        std::string pressed;
        do {
            pressed = driver_->press(kPickerTitle, button, {"Заявител: " + requester}, kDeadline);
        } while (pressed.find("not shown in") != std::string::npos && !giveUp() &&
                 std::chrono::steady_clock::now() < end);
        return pressed;
    }

    std::string diagnostics() const {
        return "\n--- agent ---\n" + (agent_ ? agent_->output() : std::string()) + "\n--- log ---\n" + log() +
               "\n--- desktop ---\n" + desktop_->diagnostics();
    }

    IsolatedHome home_;
    LoopbackHosts hosts_;
    FakeAgency agency_{hosts_};
    const int port_ = freePort();
    std::unique_ptr<TestDesktop> desktop_;
    std::unique_ptr<DialogDriver> driver_;
    // Declared before the agent, so they are joined after it has gone.
    std::vector<std::shared_future<Answer>> runs_;
    std::unique_ptr<LoopingPage> loopingPage_;
    std::unique_ptr<Subprocess> agent_;
};

TEST_F(AgentOnDisplayTest, TheUserConfirmsOneRunInThePickerAndDeclinesTheNext) {
    startAgent();
    ASSERT_TRUE(waitUntilServing()) << diagnostics();

    // The picker shows who asks; "Избери" sends the run to the agency.
    const auto confirmed = postRun("due_amounts", {{"eik", kEik}, {"year", 2024}});
    ASSERT_TRUE(driver_->waitForWindow(kPickerTitle, kDeadline)) << "no sender picker" << diagnostics();
    EXPECT_FALSE(answered(confirmed, 0s)) << "answered before the user did";
    const std::string pressed =
        driver_->press(kPickerTitle, "Избери", {kSenderName, std::string("Заявител: ") + kOrigin}, kDeadline);
    ASSERT_EQ(pressed, "") << diagnostics();
    ASSERT_TRUE(answered(confirmed, 2 * kDeadline)) << diagnostics();

    const Answer answer = confirmed.get();
    ASSERT_NO_FATAL_FAILURE(expectDueAmounts(answer));
    const json result = json::parse(answer.body);
    EXPECT_EQ(result["year"], 2024);
    ASSERT_EQ(result["items"].size(), 2u) << answer.body;
    EXPECT_EQ(result["items"][0]["debtTypeName"], "ДДФЛ");
    EXPECT_EQ(result["items"][1]["debtTypeName"], "ДДС");
    EXPECT_EQ(result["items"][1]["outstandingAmount"], 5000.0);

    // The agency saw the login with the sender's certificate and the query.
    EXPECT_EQ(agency_.sessionsOpened(), 1);
    const auto queries = agency_.portal().requestsTo(kObligations);
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_EQ(queries[0].query, "TYPE=0&YEAR=2024");
    bool certificateShown = false;
    for (const auto& request : agency_.login().requests()) {
        certificateShown = certificateShown || request.clientCertSubject.find("CN=") != std::string::npos;
    }
    EXPECT_TRUE(certificateShown);

    // The second run is declined: the refusal is the answer, and nobody at
    // the agency hears of it.
    const std::size_t contactsBefore = agencyContacts(agency_);
    const auto declined = postRun("due_amounts", {{"eik", kEik}, {"year", 2023}});
    ASSERT_TRUE(driver_->waitForWindow(kPickerTitle, kDeadline)) << "no second picker" << diagnostics();
    ASSERT_EQ(driver_->press(kPickerTitle, "Отказ", {}, kDeadline), "") << diagnostics();
    ASSERT_TRUE(answered(declined, 2 * kDeadline)) << diagnostics();
    const Answer refusal = declined.get();
    EXPECT_EQ(refusal.status, 200);
    EXPECT_EQ(json::parse(refusal.body),
              (json{{"success", false}, {"errorMessage", "Операцията е отказана от потребителя."}}));
    EXPECT_EQ(agencyContacts(agency_), contactsBefore);
    EXPECT_TRUE(agency_.portal().requestsTo(kObligations).size() == 1u);

    // The desktop ends the agent; it shuts down in order, with no dialog open.
    agent_->signal(SIGTERM);
    EXPECT_EQ(agent_->waitForExit(kDeadline), 0) << diagnostics();
    EXPECT_THAT(log(), EndsWith("[INFO ] VezoRodarC exiting\n"));
    EXPECT_THAT(log(), HasSubstr("POST /api/v1/operations/due_amounts -> 200"));
}

TEST_F(AgentOnDisplayTest, EndingTheAgentWhileThePickerIsOpenRunsNothingAndDoesNotHang) {
    startAgent();
    ASSERT_TRUE(waitUntilServing()) << diagnostics();

    const auto pending = postRun("due_amounts", {{"eik", kEik}, {"year", 2024}});
    ASSERT_TRUE(driver_->waitForWindow(kPickerTitle, kDeadline)) << "no sender picker" << diagnostics();

    // The desktop session ends with the dialog still open.
    agent_->signal(SIGTERM);
    EXPECT_EQ(agent_->waitForExit(kDeadline), 0) << diagnostics();
    ASSERT_TRUE(answered(pending, kDeadline)) << diagnostics();
    // The waiting run is answered as declined before the server goes.
    const Answer answer = pending.get();
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(json::parse(answer.body),
              (json{{"success", false}, {"errorMessage", "Операцията е отказана от потребителя."}}));
    EXPECT_EQ(agencyContacts(agency_), 0u);
    EXPECT_THAT(log(), EndsWith("[INFO ] VezoRodarC exiting\n"));
}

TEST_F(AgentOnDisplayTest, ACertificateExportedWithAPinAsksForItAfterThePicker) {
    // The sender's certificate as `openssl pkcs12 -export` makes it (key and
    // certificates encrypted with the PIN), its certificate beside it.
    CertificateSpec certSpec;
    certSpec.commonName = "Петър Стоянов";
    const TestIdentity identity = hosts_.pki().issue(certSpec);
    const CertStoreFolder store;
    store.addExported("e2e-exported", identity, "2468");
    store.addCompanion("e2e-exported", ".crt", identity, CertStoreFolder::Encoding::Pem);
    writeSettings(identity.thumbprint());
    startAgent();
    ASSERT_TRUE(waitUntilServing()) << diagnostics();

    const auto run = postRun("due_amounts", {{"eik", kEik}, {"year", 2024}});
    ASSERT_TRUE(driver_->waitForWindow(kPickerTitle, kDeadline)) << "no sender picker" << diagnostics();
    ASSERT_EQ(driver_->press(kPickerTitle, "Избери", {kSenderName}, kDeadline), "") << diagnostics();
    // The handshake with the agency needs the key: its PIN is asked.
    ASSERT_TRUE(driver_->waitForWindow(kPinTitle, kDeadline)) << "no PIN prompt" << diagnostics();
    EXPECT_FALSE(answered(run, 0s)) << "answered before the PIN was typed";
    ASSERT_EQ(driver_->fillAndPress(kPinTitle, "2468", "Продължи", kDeadline), "") << diagnostics();
    ASSERT_TRUE(answered(run, 2 * kDeadline)) << diagnostics();

    expectDueAmounts(run.get());
    EXPECT_TRUE(loginPresented(agency_, "CN=Петър Стоянов"));
    EXPECT_THAT(log(), Not(HasSubstr("2468")));
}

TEST_F(AgentOnDisplayTest, AnOlderExportLogsInWithThePinAskedOnce) {
    // As older Windows versions and browsers export (`openssl pkcs12 -export
    // -legacy`), its certificate beside it made as the README says.
    CertificateSpec certSpec;
    certSpec.commonName = "Петър Стоянов";
    const TestIdentity identity = hosts_.pki().issue(certSpec);
    const CertStoreFolder store;
    store.addExported("e2e-older", identity, "2468", {"-legacy"});
    ASSERT_EQ(store.extractCompanion("e2e-older", "2468", {"-legacy"}), 0);
    writeSettings(identity.thumbprint());
    startAgent();
    ASSERT_TRUE(waitUntilServing()) << diagnostics();

    // Each run: the picker, then the PIN when one is given.
    const auto runWith = [&](const char* pin) {
        const auto run = postRun("due_amounts", {{"eik", kEik}, {"year", 2024}});
        EXPECT_TRUE(driver_->waitForWindow(kPickerTitle, kDeadline)) << "no sender picker" << diagnostics();
        EXPECT_EQ(driver_->press(kPickerTitle, "Избери", {kSenderName}, kDeadline), "") << diagnostics();
        if (pin != nullptr) {
            EXPECT_TRUE(driver_->waitForWindow(kPinTitle, kDeadline)) << "no PIN prompt" << diagnostics();
            EXPECT_EQ(driver_->fillAndPress(kPinTitle, pin, "Продължи", kDeadline), "") << diagnostics();
        }
        // Asked for a PIN it was not given, the run would wait for it.
        EXPECT_TRUE(answered(run, 2 * kDeadline)) << diagnostics();
        return answered(run, 0s) ? run.get() : Answer{};
    };

    const Answer wrong = runWith("1357");
    EXPECT_EQ(wrong.status, 200);
    EXPECT_THAT(wrong.body, HasSubstr("Грешен PIN код.")) << wrong.body;
    EXPECT_EQ(agency_.sessionsOpened(), 0);

    expectDueAmounts(runWith("2468"));
    ASSERT_EQ(agency_.sessionsOpened(), 1);
    agency_.expireSessions();
    // The next login takes the PIN the key accepted.
    expectDueAmounts(runWith(nullptr));
    EXPECT_EQ(agency_.sessionsOpened(), 2);

    EXPECT_TRUE(loginPresented(agency_, "CN=Петър Стоянов"));
    EXPECT_THAT(log(), Not(HasSubstr("2468")));
    EXPECT_THAT(log(), Not(HasSubstr("could not parse PKCS12")));
}

// A page that asks again the moment the user declines it cannot keep the
// screen: the application's page gets the next dialog, and the declined page
// is shown again after a while.
TEST_F(AgentOnDisplayTest, APageThatAsksAgainAtOnceLeavesTheNextDialogToAnother) {
    startAgent();
    ASSERT_TRUE(waitUntilServing()) << diagnostics();
    const auto never = [] { return false; };

    loopingPage_ = std::make_unique<LoopingPage>(
        port_,
        LoopingPage::Request{"/api/v1/operations/due_amounts",
                             {{"X-Velk-Sender-Id", kSenderId}, {"Origin", kLoopOrigin}},
                             json{{"eik", kEik}, {"year", 2024}}.dump(),
                             "application/json"},
        3 * kDeadline);
    LoopingPage& page = *loopingPage_;
    // Should a stalled machine let the declined page's hold run out before
    // the application asks, the round is tried again.
    constexpr int kMaxDeclines = 3;
    int declines = 0;
    bool appShown = false;
    while (!appShown && declines < kMaxDeclines) {
        const int before = page.answers();
        ASSERT_EQ(pressFor(kLoopOrigin, "Отказ", never), "") << diagnostics();
        ++declines;
        // Asking again at once, it is refused at once.
        ASSERT_TRUE(waitFor([&] { return page.answers() >= before + 2; }))
            << "the declined page was not refused" << diagnostics();

        const auto app = postRun("due_amounts", {{"eik", kEik}, {"year", 2023}});
        const std::string pressed = pressFor(kOrigin, "Отказ", [&] { return answered(app, 0s); });
        if (pressed.empty()) {
            appShown = true;
            ASSERT_TRUE(answered(app, 2 * kDeadline)) << diagnostics();
            EXPECT_EQ(json::parse(app.get().body),
                      (json{{"success", false}, {"errorMessage", "Операцията е отказана от потребителя."}}));
        } else {
            ASSERT_TRUE(answered(app, 0s)) << pressed << diagnostics();
        }
    }
    EXPECT_TRUE(appShown) << "the application's page got no dialog in " << declines << " declines"
                          << diagnostics();

    // Its hold over, the declined page is shown again.
    ASSERT_EQ(pressFor(kLoopOrigin, "Отказ", never), "") << diagnostics();
    page.finish();
    EXPECT_EQ(page.unexpected(), "");
    EXPECT_EQ(page.declined(), declines + 1);
    EXPECT_GE(page.busy(), declines);
    EXPECT_EQ(agencyContacts(agency_), 0u);
}

}  // namespace
}  // namespace velk::test
