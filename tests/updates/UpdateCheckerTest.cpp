#include "agent/UpdateChecker.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent/VelkCloudClient.h"
#include "common/AgencyEndpoints.h"
#include "common/AgentVersion.h"
#include "fakes/LoopbackHosts.h"
#include "fakes/agency/FakeAgency.h"
#include "support/LogCapture.h"
#include "support/PollUntil.h"

namespace velk::test {
namespace {

using agent::AgentVersionInfo;
using agent::UpdateChecker;
using agent::VelkCloudClient;
using namespace std::chrono_literals;

// Versions around the one this build defines, so that a version bump
// leaves the tests' meaning as it is.
std::string versionOf(int major, int minor, int patch) {
    return core::toString({static_cast<std::uint16_t>(major), static_cast<std::uint16_t>(minor),
                           static_cast<std::uint16_t>(patch)});
}

std::string nextMinorVersion() {
    const core::AgentVersion v = core::currentVersion();
    return versionOf(v.major, v.minor + 1, 0);
}

const QString kCloud = QString::fromLatin1(core::AgencyEndpoints::kCloudBaseUrl.data(),
                                           static_cast<int>(core::AgencyEndpoints::kCloudBaseUrl.size()));

struct VersionCase {
    const char* latest;
    core::AgentVersion current;
    bool newer;
};

// Parts compare as numbers; a fourth part is read but never counts; anything
// but three or four numbers is no version at all.
TEST(UpdateVersionOrder, NewerOnlyForAVersionAboveTheCurrentOne) {
    const std::vector<VersionCase> cases = {
        {"0.1.0", {0, 1, 0}, false},    {"0.1.1", {0, 1, 0}, true},      {"0.2.0", {0, 1, 0}, true},
        {"1.0.0", {0, 1, 0}, true},     {"0.10.0", {0, 9, 0}, true},     {"0.9.0", {0, 10, 0}, false},
        {"0.10.0", {0, 1, 0}, true},    {"0.0.99", {0, 1, 0}, false},    {"0.1.0.7", {0, 1, 0}, false},
        {"0.1.1.0", {0, 1, 0}, true},   {"1.0", {0, 1, 0}, false},       {"v1.0.0", {0, 1, 0}, false},
        {"65535.0.0", {0, 1, 0}, true}, {"65536.0.0", {0, 1, 0}, false}, {"1.0.0-beta", {0, 1, 0}, false},
        {"", {0, 1, 0}, false},         {"1..0", {0, 1, 0}, false},      {"1.0.0.0.0", {0, 1, 0}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UpdateChecker::isNewerVersion(c.latest, c.current), c.newer) << c.latest;
    }
}

struct ReplyCase {
    const char* body;
    bool readable;
    AgentVersionInfo info;
};

TEST(VersionReply, KeysAreReadAsStringsAndEveryOtherShapeIsRefused) {
    const std::vector<ReplyCase> cases = {
        {R"({"latestVersion":"0.2.0","minVersion":"0.1.0","windowsUrl":"w","macUrl":"m","linuxUrl":"l","x":1})",
         true,
         {true, "0.2.0", "0.1.0", "w", "m", "l"}},
        // No Linux address: none, whatever the Windows one says.
        {R"({"latestVersion":"0.2.0","windowsUrl":"https://w/x.msi"})",
         true,
         {true, "0.2.0", "", "https://w/x.msi", "", ""}},
        {R"({"minVersion":"0.1.0"})", true, {false, "", "0.1.0", "", "", ""}},
        {"{}", true, {}},
        {R"({"latestVersion":2})", false, {}},
        {R"({"latestVersion":"0.2.0","linuxUrl":null})", false, {}},
        {"[]", false, {}},
        {"\"0.2.0\"", false, {}},
        {"<html>502</html>", false, {}},
        {"", false, {}},
        {R"({"latestVersion":"0.2.0")", false, {}},
    };
    for (const auto& c : cases) {
        AgentVersionInfo info;
        info.ok = true;
        info.latestVersion = "left over";
        std::string error;
        EXPECT_EQ(VelkCloudClient::readVersionReply(c.body, info, error), c.readable) << c.body;
        EXPECT_EQ(error.empty(), c.readable) << c.body << ": " << error;
        EXPECT_EQ(info.ok, c.info.ok) << c.body;
        EXPECT_EQ(info.latestVersion, c.info.latestVersion) << c.body;
        EXPECT_EQ(info.minVersion, c.info.minVersion) << c.body;
        EXPECT_EQ(info.windowsUrl, c.info.windowsUrl) << c.body;
        EXPECT_EQ(info.macUrl, c.info.macUrl) << c.body;
        EXPECT_EQ(info.linuxUrl, c.info.linuxUrl) << c.body;
        EXPECT_EQ(agent::platformDownloadUrl(info), c.info.linuxUrl) << c.body;
    }
    // Nesting deeper than any reply is refused before it is parsed.
    AgentVersionInfo info;
    std::string error;
    EXPECT_FALSE(
        VelkCloudClient::readVersionReply(std::string(100000, '[') + std::string(100000, ']'), info, error));
}

// The checker against the fake cloud under its production name, over TLS.
class UpdateCheckerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        hosts_ = new LoopbackHosts;
        agency_ = new FakeAgency(*hosts_);
    }
    static void TearDownTestSuite() {
        delete agency_;
        delete hosts_;
    }
    void SetUp() override {
        agency_->cloudRoutes().install(agency_->cloud());
        agency_->cloud().clearRequests();
    }

    CloudRoutes& cloud() { return agency_->cloudRoutes(); }

    // One check of a started checker; what it announced, if anything.
    struct Outcome {
        bool announced = false;
        QString version;
        QString url;
    };
    static Outcome checkOnce(UpdateChecker& checker) {
        QSignalSpy available(&checker, &UpdateChecker::updateAvailable);
        QSignalSpy completed(&checker, &UpdateChecker::checkCompleted);
        checker.onTick();
        EXPECT_TRUE(completed.wait(60'000));
        Outcome outcome;
        if (!available.isEmpty()) {
            outcome.announced = true;
            outcome.version = available.at(0).at(0).toString();
            outcome.url = available.at(0).at(1).toString();
        }
        EXPECT_LE(available.size(), 1);
        return outcome;
    }

    static LoopbackHosts* hosts_;
    static FakeAgency* agency_;
};

LoopbackHosts* UpdateCheckerTest::hosts_ = nullptr;
FakeAgency* UpdateCheckerTest::agency_ = nullptr;

TEST_F(UpdateCheckerTest, AnnouncesANewerVersionWithItsLinuxAddress) {
    UpdateChecker checker(kCloud);
    {
        LogCapture log;
        checker.start();
        checker.start();  // polling already: nothing
        EXPECT_EQ(
            log.count("INFO", "UpdateChecker: started polling https://cloud.vezorodar.bg (interval=21600s)"),
            1);
        EXPECT_EQ(log.count("INFO", "UpdateChecker: started polling"), 1);
    }

    const std::string newer = nextMinorVersion();
    const std::string url = CloudRoutes::downloadUrl("vezorodar_" + newer + "_amd64.deb");
    cloud().setVersionReply(
        Reply::json(200, CloudRoutes::versionJson(newer, url, "https://w/VezoRodarC.msi")));
    LogCapture log;
    const Outcome outcome = checkOnce(checker);
    EXPECT_TRUE(outcome.announced);
    EXPECT_EQ(outcome.version, QString::fromStdString(newer));
    EXPECT_EQ(outcome.url, QString::fromStdString(url));
    EXPECT_EQ(checker.latestVersion(), QString::fromStdString(newer));
    EXPECT_EQ(log.count("INFO", "UpdateChecker: new version " + newer + " available (current " +
                                    core::versionString() + ")"),
              1);

    const auto requests = agency_->cloud().requestsTo(CloudRoutes::kVersionPath);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].header("Accept"), "application/json");
    EXPECT_EQ(requests[0].header("Host"), "cloud.vezorodar.bg");
    EXPECT_EQ(requests[0].header("User-Agent"), "VezoRodarC/0.1 (+vezorodar.bg)");

    // Announced again at every check while it stays newer.
    EXPECT_TRUE(checkOnce(checker).announced);
}

// The checker goes by the order of the table above: the current version is
// not announced, the next one up is.
TEST_F(UpdateCheckerTest, OnlyAVersionAboveTheCurrentOneIsAnnounced) {
    UpdateChecker checker(kCloud);
    checker.start();
    const core::AgentVersion v = core::currentVersion();
    const struct {
        std::string latest;
        bool announced;
    } cases[] = {{core::versionString(), false}, {versionOf(v.major, v.minor, v.patch + 1), true}};
    for (const auto& c : cases) {
        cloud().setVersionReply(
            Reply::json(200, CloudRoutes::versionJson(c.latest, CloudRoutes::downloadUrl("x.deb"))));
        EXPECT_EQ(checkOnce(checker).announced, c.announced) << c.latest;
    }
}

TEST_F(UpdateCheckerTest, AReplyWithoutALinuxAddressAnnouncesAnEmptyOne) {
    UpdateChecker checker(kCloud);
    checker.start();
    cloud().setVersionReply(
        Reply::json(200, CloudRoutes::versionJson(nextMinorVersion(), "", "https://w/VezoRodarC.msi")));
    const Outcome outcome = checkOnce(checker);
    EXPECT_TRUE(outcome.announced);
    EXPECT_EQ(outcome.version, QString::fromStdString(nextMinorVersion()));
    EXPECT_EQ(outcome.url, "");
}

struct FailureCase {
    const char* name;
    Reply reply;
    const char* warning;
};

TEST_F(UpdateCheckerTest, FailuresWarnOnceAndAnnounceNothing) {
    const std::vector<FailureCase> cases = {
        {"bad_json", Reply::text(200, "<html>\x01 not json</html>"),
         "VelkCloudClient::checkVersion: parse error — "},
        {"not_an_object", Reply::json(200, R"(["0.2.0"])"), "VelkCloudClient::checkVersion: parse error — "},
        {"number", Reply::json(200, R"({"latestVersion":1})"),
         "VelkCloudClient::checkVersion: parse error — "},
        {"missing_key", Reply::json(200, R"({"linuxUrl":"https://x/y.deb"})"), nullptr},
        {"server_error", Reply::json(500, R"({"latestVersion":"9.0.0"})"),
         "VelkCloudClient::checkVersion: HTTP 500"},
        {"too_large",
         Reply::json(200, R"({"latestVersion":"9.0.0","pad":")" + std::string(2 << 20, 'x') + "\"}"),
         "VelkCloudClient::checkVersion: transport error — "},
    };
    UpdateChecker checker(kCloud);
    checker.start();
    for (const auto& c : cases) {
        cloud().setVersionReply(c.reply);
        LogCapture log;
        EXPECT_FALSE(checkOnce(checker).announced) << c.name;
        EXPECT_EQ(log.count("WARN"), c.warning ? 1 : 0) << c.name;
        if (c.warning) {
            EXPECT_EQ(log.count("WARN", c.warning), 1) << c.name;
        }
        for (const std::string& line : log.stop()) {
            EXPECT_EQ(line.find('\x01'), std::string::npos) << line;
        }
    }
}

TEST_F(UpdateCheckerTest, AClosedPortIsATransportError) {
    // Nothing listens on port 1 of the loopback address.
    UpdateChecker checker(QStringLiteral("https://127.0.0.1:1"));
    checker.start();
    LogCapture log;
    EXPECT_FALSE(checkOnce(checker).announced);
    EXPECT_EQ(log.count("WARN", "VelkCloudClient::checkVersion: transport error — "), 1);
}

TEST_F(UpdateCheckerTest, WithoutABaseUrlNothingPolls) {
    UpdateChecker checker(QString{});
    LogCapture log;
    checker.start();
    EXPECT_EQ(log.count("INFO", "UpdateChecker: disabled (no velkCloudBaseUrl)"), 1);
    // A tick without a client ends at once, quietly.
    QSignalSpy completed(&checker, &UpdateChecker::checkCompleted);
    checker.onTick();
    EXPECT_FALSE(completed.wait(200));
    EXPECT_TRUE(agency_->cloud().requests().empty());
}

// A tick while a check runs is skipped; destroying the checker then cancels
// the request, rather than waiting for the cloud or the client's time-out.
TEST_F(UpdateCheckerTest, DestroyingTheCheckerCancelsTheRunningCheck) {
    cloud().setVersionReply(
        Reply::json(200, CloudRoutes::versionJson("9.0.0", "https://x/y.deb")).after(300s));
    auto checker = std::make_unique<UpdateChecker>(kCloud);
    checker->start();
    checker->onTick();
    ASSERT_TRUE(pollUntil([&] { return !agency_->cloud().requestsTo(CloudRoutes::kVersionPath).empty(); },
                          [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); }))
        << "the version check never reached the cloud";
    checker->onTick();  // skipped: the first is still waiting

    LogCapture log;
    checker.reset();
    EXPECT_EQ(
        log.count("WARN", std::string("transport error — ") + curl_easy_strerror(CURLE_ABORTED_BY_CALLBACK)),
        1);
    EXPECT_EQ(log.count("WARN", "Timeout"), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(agency_->cloud().requestsTo(CloudRoutes::kVersionPath).size(), 1u);
}

}  // namespace
}  // namespace velk::test
