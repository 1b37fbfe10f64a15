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

#include "fakes/LoopbackHosts.h"
#include "fakes/agency/FakeAgency.h"
#include "infrastructure/java/ZezizUrBridge.h"
#include "java/FakeJavaHome.h"
#include "java/HttpFetcher.h"
#include "java/RecordingSigner.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace velk::core::infra::java {
namespace {

using test::FakeJavaHome;
using test::LogCapture;
using ::testing::ElementsAre;

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

}  // namespace
}  // namespace velk::core::infra::java
