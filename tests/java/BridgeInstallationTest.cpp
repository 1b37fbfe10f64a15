// The bridge's installation paths around the download and the per-user data
// folder it runs Java from.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/TextUtils.h"
#include "fakes/LoopbackHosts.h"
#include "fakes/agency/FakeAgency.h"
#include "infrastructure/java/ZezizUrBridge.h"
#include "java/FakeJavaHome.h"
#include "java/HttpFetcher.h"
#include "java/RecordingSigner.h"
#include "java/TestZip.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace velk::core::infra::java {
namespace {

using test::FakeJavaHome;
using test::LogCapture;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(BridgeInstallationTest, WithoutAnAuthenticatedFetcherTheClientIsStillDownloadedAnonymously) {
    const FakeJavaHome home(false);  // first: the loopback hosts' settings win while they live
    test::LoopbackHosts hosts;
    const test::FakeAgency agency(hosts);
    for (const bool withFetcher : {false, true}) {
        SCOPED_TRACE(withFetcher ? "fetcher set" : "no fetcher");
        std::filesystem::remove_all(home.clientDir());
        ZezizUrBridge bridge;
        std::atomic<int> fetches{0};
        if (withFetcher) {
            bridge.setFetcher([&fetches, fetch = test::httpFetcher()](const std::string& url) {
                ++fetches;
                return fetch(url);
            });
        }
        LogCapture log;
        ASSERT_TRUE(bridge.ensureInstalled({}));
        EXPECT_EQ(bridge.jars().size(), 3u);
        EXPECT_TRUE(std::filesystem::exists(home.clientDir() + "/native/vatclient.dll"));
        EXPECT_EQ(
            log.count("WARN", "ZezizUR: no authenticated fetcher set — JNLP endpoints require portal login"),
            withFetcher ? 0 : 1);
        EXPECT_EQ(
            log.count(
                "INFO",
                "JnlpDownloader: fetching https://portal.nra.bg/ls/java/zezizurls-vat.jnlp (anonymous)"),
            withFetcher ? 0 : 1);
        EXPECT_EQ(fetches > 0, withFetcher);
    }
}

TEST(BridgeInstallationTest, ADataFolderWithAColonIsRefusedBeforeJavaStarts) {
    // Java on Linux splits its class path and library path at ':'.
    const FakeJavaHome home;
    const std::string data = home.folder("da:ta", "");
    const test::ScopedEnv dataHome("XDG_DATA_HOME", data);
    const std::string client = data + "/VEZORodar/ZezizUR";
    std::filesystem::create_directories(client + "/native");
    for (const char* name :
         {"VATClientService.jar", "SignerService.jar", "LSManager.jar", "native/vatclient.dll"}) {
        std::ofstream(client + "/" + name) << "installed";
    }
    const std::string refusal = "Java не може да работи от папка, чийто път съдържа знака ':': " + data +
                                "/VEZORodar. Преместете папката с данни на път без ':'.";
    const std::string folder = home.folder("vat", "exit 0");
    ZezizUrBridge bridge;
    LogCapture log;
    EXPECT_THAT(bridge.validate(folder, {}), ElementsAre(refusal));
    test::RecordingSigner signer;
    const ZezizUrSubmitResult filed = bridge.submit(folder, signer, "7:A107", "", "MIIcert", "", {});
    EXPECT_FALSE(filed.ok);
    EXPECT_EQ(filed.message, refusal);
    EXPECT_FALSE(std::filesystem::exists(folder + "/args.txt")) << "Java was started";
    EXPECT_EQ(log.count("ERROR", "holds ':', which splits Java's class path; not starting Java"), 2);
}

// Outside text on its way into the log: the data folder's path (a line
// separator, a line feed and a stray byte in it), the manifest's hrefs, the
// names inside the agency's archive and a certificate id. Each reaches the
// log escaped, so every line stays one record and none is forged.
TEST(BridgeInstallationTest, PathsAndTheAgencysNamesCannotForgeOrBreakALogLine) {
    const FakeJavaHome home(false);  // first: the loopback hosts' settings win while they live
    test::LoopbackHosts hosts;
    test::FakeAgency agency(hosts);
    const std::string forged = "2026-01-01 00:00:00 [ERROR] forged";
    // No ':' in the folder, which Java's class path could not take.
    const std::string forgedInPath = "[ERROR] forged";
    const std::string data = home.folder("da\xE2\x80\xA8" + forgedInPath + "\n" + forgedInPath + "\xFF", "");
    const std::string shownData = escapeControlBytes(data);
    EXPECT_NE(shownData, data);
    const test::ScopedEnv dataHome("XDG_DATA_HOME", data);
    // A runtime of OpenWebStart there that cannot start (not executable).
    std::filesystem::create_directories(data + "/OpenWebStart/jvm/default/bin");
    std::ofstream(data + "/OpenWebStart/jvm/default/bin/java") << "#!/bin/sh\n";

    std::string manifest = test::JavaClientRoutes::manifest();
    const std::string lastJar = "<jar href=\"LSManager.jar\"/>";
    manifest.insert(manifest.find(lastJar) + lastJar.size(), "<jar href=\"a\xE2\x80\xA8" + forged +
                                                                 ".jar\"/><jar href=\"b\n" + forged +
                                                                 ".jar\"/><jar href=\"c\xC2\x85\xFF.jar\"/>");
    agency.portal().on("GET", "/ls/java/zezizurls-vat.jnlp", test::Reply::text(200, manifest));
    agency.portal().on("GET", "/ls/LSManager.jar", test::Reply::text(404, "missing"));
    test::TestZip archive;
    archive.entries = {{"x\xE2\x80\xA9" + forged, "x"}, {"y\r\n" + forged, "y"}, {"z\xFE", "z"}};
    agency.portal().on("GET", "/ls/native/vatclient-win-x86_64.jar", test::Reply::text(200, archive.bytes()));

    const std::string client = shownData + "/VEZORodar/ZezizUR";
    ZezizUrBridge bridge;
    LogCapture log;
    EXPECT_FALSE(bridge.ensureInstalled({}));  // no library in the archive
    agency.script();
    ASSERT_TRUE(bridge.ensureInstalled({}));
    test::RecordingSigner signer;
    const std::string certificateId = "7:A1\xE2\x80\xA8" + forged;
    const ZezizUrSubmitResult filed =
        bridge.submit(home.folder("vat", "exit 0"), signer, certificateId, "", "MIIcert", "", {});
    EXPECT_TRUE(filed.ok) << filed.message;

    EXPECT_THAT(log.malformedLines(), IsEmpty());
    EXPECT_EQ(log.count("WARN", "Missing native lib: " + client + "/native/vatclient.dll"), 2);
    EXPECT_EQ(log.count("WARN", "Still missing after download: " + client + "/LSManager.jar"), 1);
    EXPECT_EQ(log.count("INFO", "JnlpDownloader: wrote " + client + "/native/vatclient.dll"), 1);
    EXPECT_EQ(
        log.count("ERROR", "ProcessRunner: cannot start " + shownData + "/OpenWebStart/jvm/default/bin/java"),
        2);
    EXPECT_EQ(log.count("INFO", "  jar href=b\\x0A" + forged + ".jar"), 1);
    EXPECT_EQ(log.count("INFO", "  [vatclient-win-x86_64.jar] y\\x0D\\x0A" + forged), 1);
    EXPECT_EQ(log.count("INFO", "ZezizUR submit: signing cert id = 7:A1\\u2028" + forged), 1);
}

}  // namespace
}  // namespace velk::core::infra::java
