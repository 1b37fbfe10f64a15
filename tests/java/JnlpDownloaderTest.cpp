#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/LoopbackHosts.h"
#include "fakes/agency/FakeAgency.h"
#include "fakes/agency/JavaClientRoutes.h"
#include "infrastructure/java/JnlpDownloader.h"
#include "infrastructure/java/ZezizUrBridge.h"
#include "java/FakeJavaHome.h"
#include "java/HttpFetcher.h"
#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "support/LogCapture.h"

namespace velk::core::infra::java {
namespace {

using test::FakeAgency;
using test::FakeJavaHome;
using test::LogCapture;
using test::LoopbackHosts;
using test::Reply;
using ::testing::ElementsAre;

std::string fileText(const std::string& path) {
    std::string text;
    platform::readWholeFile(path, text);
    return text;
}

std::string standIn(const std::string& name) {
    return fileText(test::JavaClientRoutes::clientDir() + "/" + name);
}

class JnlpDownloaderTest : public testing::Test {
protected:
    std::string target(const std::string& name) const { return home_.clientDir() + "/" + name; }

    FakeJavaHome home_{false};  // first: the loopback hosts' settings win while they live
    LoopbackHosts hosts_;
    FakeAgency agency_{hosts_};
};

TEST_F(JnlpDownloaderTest, DownloadsTheJarsForWindowsOn64BitAnonymously) {
    LogCapture log;
    const std::vector<std::string> written = JnlpDownloader::downloadJars(home_.clientDir(), {});
    EXPECT_THAT(written, ElementsAre(target("VATClientService.jar"), target("SignerService.jar"),
                                     target("LSManager.jar"), target("vatclient-win-x86_64.jar")));
    EXPECT_EQ(fileText(target("VATClientService.jar")), standIn("VATClientService.jar"));
    EXPECT_EQ(fileText(target("vatclient-win-x86_64.jar")), standIn("native/vatclient-win-x86_64.jar"));
    EXPECT_EQ(
        log.count("INFO",
                  "JnlpDownloader: fetching https://portal.nra.bg/ls/java/zezizurls-vat.jnlp (anonymous)"),
        1);
    EXPECT_EQ(log.count("INFO", "JnlpDownloader: manifest codebase=https://portal.nra.bg/ls jars=4"), 1);
    EXPECT_EQ(log.count("WARN", "session fetch returned 0 bytes"), 0);
    EXPECT_TRUE(agency_.portal().requestsTo("/ls/native/vatclient-win-x86.jar").empty());
}

TEST_F(JnlpDownloaderTest, AFetcherWithNothingFallsBackToAnAnonymousDownload) {
    LogCapture log;
    const auto empty = [](const std::string&) { return std::vector<std::uint8_t>(); };
    EXPECT_EQ(JnlpDownloader::downloadJars(home_.clientDir(), empty).size(), 4u);
    EXPECT_EQ(log.count("INFO", "(authenticated)"), 1);
    EXPECT_EQ(log.count("WARN",
                        "JnlpDownloader: session fetch returned 0 bytes for "
                        "https://portal.nra.bg/ls/java/zezizurls-vat.jnlp; trying anonymous fallback"),
              1);
}

TEST_F(JnlpDownloaderTest, AnErrorPageIsNeverWrittenAsAJar) {
    std::filesystem::create_directories(home_.clientDir());
    std::ofstream(target("SignerService.jar")) << "the old one";
    agency_.portal().on("GET", "/ls/SignerService.jar", Reply::text(200, "<html>Вход в портала</html>"));
    agency_.portal().on("GET", "/ls/LSManager.jar", Reply::text(404, "missing"));
    LogCapture log;
    EXPECT_THAT(JnlpDownloader::downloadJars(home_.clientDir(), test::httpFetcher()),
                ElementsAre(target("VATClientService.jar"), target("vatclient-win-x86_64.jar")));
    EXPECT_EQ(fileText(target("SignerService.jar")), "the old one");
    EXPECT_FALSE(std::filesystem::exists(target("LSManager.jar")));
    EXPECT_EQ(log.count("WARN",
                        "JnlpDownloader: https://portal.nra.bg/ls/SignerService.jar is not a JAR (39 bytes); "
                        "not written"),
              1);
    EXPECT_EQ(log.count("WARN", "JnlpDownloader: HTTP 404 for https://portal.nra.bg/ls/LSManager.jar"), 1);
    EXPECT_EQ(log.count("WARN", "JnlpDownloader: failed to fetch https://portal.nra.bg/ls/LSManager.jar"), 1);
    EXPECT_EQ(log.count("INFO", "JnlpDownloader: downloaded 2 JAR(s) to "), 1);
}

TEST_F(JnlpDownloaderTest, AManifestWithoutJarsIsReportedWithAPreview) {
    const std::string page = "<html>" + std::string(794, 'p');
    agency_.portal().on("GET", "/ls/java/zezizurls-vat.jnlp", Reply::text(200, page));
    LogCapture log;
    EXPECT_TRUE(JnlpDownloader::downloadJars(home_.clientDir(), {}).empty());
    EXPECT_EQ(log.count("ERROR", "JnlpDownloader: manifest parsed 0 jar entries. Body preview: " +
                                     page.substr(0, 500) + "..."),
              1);
    agency_.portal().on("GET", "/ls/java/zezizurls-vat.jnlp", Reply::text(500, "down"));
    LogCapture failedLog;
    EXPECT_TRUE(JnlpDownloader::downloadJars(home_.clientDir(), {}).empty());
    EXPECT_EQ(
        failedLog.count(
            "ERROR", "JnlpDownloader: failed to fetch JNLP manifest — likely not logged in to portal.nra.bg"),
        1);
}

TEST_F(JnlpDownloaderTest, TakesTheNativeLibraryOutOfItsJar) {
    LogCapture log;
    const std::string nativeDir = home_.clientDir() + "/native";
    EXPECT_EQ(
        JnlpDownloader::extractNativeLib("native/vatclient-win-x86_64.jar", "vatclient.dll", nativeDir, {}),
        nativeDir + "/vatclient.dll");
    EXPECT_EQ(fileText(nativeDir + "/vatclient.dll"), "stand-in for the VAT client native library\n");
    EXPECT_EQ(JnlpDownloader::extractNativeLib("VATClientService.jar", "vatclient.dll", nativeDir, {}), "");
    EXPECT_EQ(
        log.count("WARN",
                  "JnlpDownloader: could not extract vatclient.dll from VATClientService.jar — contents:"),
        1);
    EXPECT_EQ(log.count("INFO", "  [VATClientService.jar] total "), 1);
}

TEST_F(JnlpDownloaderTest, TheBridgeInstallsTheClientFromThePortal) {
    ZezizUrBridge bridge;
    bridge.setFetcher(test::httpFetcher());
    std::vector<std::string> progress;
    ASSERT_TRUE(bridge.ensureInstalled([&](const std::string& text) { progress.push_back(text); }));
    EXPECT_THAT(progress, ElementsAre("Търсене на Java…", "Сваляне на ZezizUR библиотеките от НАП…",
                                      "Извличане на native библиотека…", "Готово."));
    EXPECT_THAT(bridge.jars(), ElementsAre(target("VATClientService.jar"), target("SignerService.jar"),
                                           target("LSManager.jar")));
    EXPECT_EQ(fileText(target("native/vatclient.dll")), "stand-in for the VAT client native library\n");
    // Installed now: no second download.
    agency_.portal().clearRequests();
    ASSERT_TRUE(bridge.ensureInstalled({}));
    EXPECT_TRUE(agency_.portal().requests().empty());
}

}  // namespace
}  // namespace velk::core::infra::java
