#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
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
#include "java/TestZip.h"
#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "support/FileText.h"
#include "support/LogCapture.h"

namespace velk::core::infra::java {
namespace {

using test::FakeAgency;
using test::FakeJavaHome;
using test::LogCapture;
using test::LoopbackHosts;
using test::readFileText;
using test::Reply;
using ::testing::ElementsAre;

constexpr const char* kRequiredJars[] = {"VATClientService.jar", "SignerService.jar", "LSManager.jar"};

std::string standIn(const std::string& name) {
    return readFileText(test::JavaClientRoutes::clientDir() + "/" + name);
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
    EXPECT_EQ(readFileText(target("VATClientService.jar")), standIn("VATClientService.jar"));
    EXPECT_EQ(readFileText(target("vatclient-win-x86_64.jar")), standIn("native/vatclient-win-x86_64.jar"));
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
    EXPECT_EQ(readFileText(target("SignerService.jar")), "the old one");
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
    EXPECT_EQ(readFileText(nativeDir + "/vatclient.dll"), "stand-in for the VAT client native library\n");
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
    EXPECT_EQ(readFileText(target("native/vatclient.dll")), "stand-in for the VAT client native library\n");
    // Installed now: no second download.
    agency_.portal().clearRequests();
    ASSERT_TRUE(bridge.ensureInstalled({}));
    EXPECT_TRUE(agency_.portal().requests().empty());
}

TEST_F(JnlpDownloaderTest, RedirectsOfTheManifestAndAJarAreFollowed) {
    agency_.portal().on("GET", "/ls/java/zezizurls-vat.jnlp",
                        Reply::redirect("/ls/java/v2/zezizurls-vat.jnlp"));
    agency_.portal().on("GET", "/ls/java/v2/zezizurls-vat.jnlp",
                        Reply::text(200, test::JavaClientRoutes::manifest()));
    agency_.portal().on("GET", "/ls/LSManager.jar",
                        Reply::redirect("https://portal.nra.bg/ls/v2/LSManager.jar", 301));
    agency_.portal().on("GET", "/ls/v2/LSManager.jar", Reply::text(200, standIn("LSManager.jar")));
    EXPECT_THAT(JnlpDownloader::downloadJars(home_.clientDir(), {}),
                ElementsAre(target("VATClientService.jar"), target("SignerService.jar"),
                            target("LSManager.jar"), target("vatclient-win-x86_64.jar")));
    EXPECT_EQ(readFileText(target("LSManager.jar")), standIn("LSManager.jar"));
    EXPECT_EQ(agency_.portal().requestsTo("/ls/java/v2/zezizurls-vat.jnlp").size(), 1u);
}

// What an installation comes to when only part of the client is in place,
// or only part of it can be had from the portal.
TEST_F(JnlpDownloaderTest, AnInstallationOfPartOfTheClient) {
    struct Case {
        std::string label;
        std::function<void()> setUp;  // on an empty client folder and the portal as scripted
        bool installed;
        std::vector<std::string> progress;
        std::vector<std::pair<std::string, std::string>> logLines;  // level, text: each once
        std::vector<std::string> jars;
    };
    const std::string javaScript = std::getenv("JAVA_HOME") + std::string("/bin/java");
    const std::string javaAsScripted = readFileText(javaScript);
    const auto putClient = [this](bool withSignerJar, bool withLibrary) {
        std::filesystem::create_directories(target("native"));
        for (const char* jar : kRequiredJars) {
            if (withSignerJar || jar != std::string("SignerService.jar")) {
                std::ofstream(target(jar)) << "jar";
            }
        }
        if (withLibrary) {
            std::ofstream(target("native/vatclient.dll")) << "dll";
        }
    };
    const auto serveNativeJar = [this](const test::TestZipEntry& entry) {
        agency_.portal().on("GET", "/ls/native/vatclient-win-x86_64.jar",
                            Reply::text(200, test::TestZip{{entry}}.bytes()));
    };
    const std::vector<std::string> downloadedAndDone = {"Търсене на Java…",
                                                        "Сваляне на ZezizUR библиотеките от НАП…", "Готово."};
    const std::vector<std::string> upToExtraction = {
        "Търсене на Java…", "Сваляне на ZezizUR библиотеките от НАП…", "Извличане на native библиотека…"};
    const std::vector<std::string> allJars = {target("VATClientService.jar"), target("SignerService.jar"),
                                              target("LSManager.jar")};
    const std::vector<Case> cases = {
        {"a JAR missing beside the library",
         [&] { putClient(false, true); },
         true,
         downloadedAndDone,
         {{"WARN", "Missing JAR: SignerService.jar"}},
         allJars},
        {"a JAR still missing after the download",
         [&] {
             putClient(false, true);
             agency_.portal().on("GET", "/ls/SignerService.jar", Reply::text(404, "missing"));
         },
         true,
         downloadedAndDone,
         {{"WARN", "Missing JAR: SignerService.jar"},
          {"WARN", "Still missing after download: " + target("SignerService.jar")}},
         {target("VATClientService.jar"), target("LSManager.jar")}},
        {"a Java of no known architecture",
         [&] {
             putClient(true, false);
             std::string script = javaAsScripted;
             script.replace(script.find("OpenJDK 64-Bit Server VM"), 24, "OpenJDK Server VM");
             test::writeScript(javaScript, script);
         },
         false,
         upToExtraction,
         {{"INFO", " version=17.0.15 (32-Bit)"},
          {"WARN",
           "ZezizUR: no native lib JAR mapping for current arch — VAT validation will fail with "
           "UnsatisfiedLinkError"},
          {"WARN", "Missing native lib: " + target("native/vatclient.dll")},
          {"WARN", "ZezizUR: native lib download/extract failed"},
          {"ERROR", "ZezizUR: native lib still missing after download"}},
         allJars},
        {"a native JAR without the library",
         [&] {
             putClient(true, false);
             serveNativeJar({"readme.txt", "no library here"});
         },
         false,
         upToExtraction,
         {{"WARN",
           "JnlpDownloader: could not extract vatclient.dll from native/vatclient-win-x86_64.jar — "
           "contents:"},
          {"INFO", "  [vatclient-win-x86_64.jar] readme.txt (STORED, 15 bytes)"},
          {"WARN", "ZezizUR: native lib download/extract failed"},
          {"ERROR", "ZezizUR: native lib still missing after download"}},
         allJars},
        {"a damaged library in the native JAR",
         [&] {
             putClient(true, false);
             test::TestZipEntry damaged{"vatclient.dll", std::string(4000, 'L'), 8};
             damaged.declaredCrc = 0x0BADC0DE;
             serveNativeJar(damaged);
         },
         false,
         upToExtraction,
         {{"WARN", "JnlpDownloader: CRC-32 mismatch for 'vatclient.dll'"},
          {"ERROR", "ZezizUR: native lib still missing after download"}},
         allJars},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(home_.clientDir());
        agency_.script();
        test::writeScript(javaScript, javaAsScripted);
        c.setUp();

        ZezizUrBridge bridge;
        bridge.setFetcher(test::httpFetcher());
        std::vector<std::string> progress;
        LogCapture log;
        EXPECT_EQ(bridge.ensureInstalled([&](const std::string& text) { progress.push_back(text); }),
                  c.installed);
        EXPECT_EQ(progress, c.progress);
        for (const auto& [level, text] : c.logLines) {
            EXPECT_EQ(log.count(level, text), 1) << level << " " << text;
        }
        EXPECT_EQ(bridge.jars(), c.jars);
        if (!c.installed) {
            // Nothing at all was written into the library's folder.
            EXPECT_TRUE(std::filesystem::is_empty(target("native")));
        }
    }
}

}  // namespace
}  // namespace velk::core::infra::java
