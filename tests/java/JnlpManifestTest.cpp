#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "infrastructure/java/JnlpDownloader.h"
#include "infrastructure/java/JnlpManifest.h"

namespace velk::core::infra::java {
namespace {

std::vector<std::string> hrefs(const JnlpManifest& manifest) {
    std::vector<std::string> out;
    for (const JnlpJar& jar : manifest.jars) {
        out.push_back(jar.href);
    }
    return out;
}

struct ManifestCase {
    std::string label;
    std::string text;
    std::vector<std::string> hrefs;
    std::string codebase = "https://portal.nra.bg/ls";
};

TEST(JnlpManifestTest, PicksTheJarsForWindowsOn64Bit) {
    const std::vector<ManifestCase> cases = {
        {"block without os and arch", R"(<resources><jar href="a.jar"/></resources>)", {"a.jar"}},
        {"32-bit block left out",
         R"(<resources os="Windows" arch="x86"><nativelib href="n32.jar"/></resources>)",
         {}},
        {"one of several arch words",
         R"(<resources os="Windows" arch="x86_64 amd64"><nativelib href="n64.jar"/></resources>)",
         {"n64.jar"}},
        {"escaped blanks join words of the os",
         R"(<resources os="Mac\ OS\ X"><jar href="mac.jar"/></resources><resources os="Win\ WINDOWS\ x"><jar href="w.jar"/></resources>)",
         {"w.jar"}},
        {"upper-case element and attribute names",
         R"(<JNLP CODEBASE="https://x.example/base"><RESOURCES OS="WINDOWS"><JAR HREF="big.jar" SIZE="12"/></RESOURCES></JNLP>)",
         {"big.jar"},
         "https://x.example/base"},
        {"a jar in two blocks twice, one outside once after them",
         R"(<jar href="out.jar"/><resources><jar href="a.jar"/></resources><resources os="windows"><jar href="a.jar"/></resources><jar href="a.jar"/><nativelib href="out.jar"/>)",
         {"a.jar", "a.jar", "out.jar"}},
        {"the last href of a tag counts, word boundary needed",
         R"(<resources><jar xhref="no.jar" href="first.jar" href="last.jar"/></resources>)",
         {"last.jar"}},
        {"a jar tag without href is skipped",
         R"(<resources><jar main="true"/><jar href="b.jar"/></resources>)",
         {"b.jar"}},
        {"an unclosed block is read as outside text",
         R"(<resources os="Linux"><jar href="x.jar"/>)",
         {"x.jar"}},
        {"resources2 is no resources element",
         R"(<resources2 os="Linux"><jar href="y.jar"/></resources2>)",
         {"y.jar"}},
        {"nothing", "<html>login</html>", {}},
    };
    for (const ManifestCase& c : cases) {
        SCOPED_TRACE(c.label);
        const JnlpManifest manifest = JnlpDownloader::parseManifest(c.text);
        EXPECT_EQ(hrefs(manifest), c.hrefs);
        EXPECT_EQ(manifest.codebase, c.codebase);
    }
}

TEST(JnlpManifestTest, KeepsSizesAndTheLastCodebaseOfTheJnlpTag) {
    const JnlpManifest manifest = JnlpDownloader::parseManifest(
        R"(<jnlp codebase="https://one/ls" codebase="https://two/ls" href="x.jnlp">
             <resources><jar href="a.jar" size="4096"/><jar href="b.jar"/></resources></jnlp>)");
    EXPECT_EQ(manifest.codebase, "https://two/ls");
    ASSERT_EQ(manifest.jars.size(), 2u);
    EXPECT_EQ(manifest.jars[0].size, "4096");
    EXPECT_EQ(manifest.jars[1].size, "");
}

TEST(JnlpManifestTest, ManyUnclosedTagsAreReadInLinearTime) {
    std::string text;
    for (int i = 0; i < 200000; ++i) {
        text += "<jar <jnlp ";
    }
    text += R"(href="end.jar">)";
    const JnlpManifest manifest = JnlpDownloader::parseManifest(text);
    ASSERT_EQ(manifest.jars.size(), 1u);
    EXPECT_EQ(manifest.jars[0].href, "end.jar");
}

TEST(JnlpManifestTest, PlatformMatchAndHrefResolution) {
    EXPECT_TRUE(JnlpDownloader::matchesPlatform("", "Windows"));
    EXPECT_TRUE(JnlpDownloader::matchesPlatform("windows", "Windows"));
    EXPECT_TRUE(JnlpDownloader::matchesPlatform("Linux\\ Windows", "Windows"));
    EXPECT_FALSE(JnlpDownloader::matchesPlatform("Windows10", "Windows"));
    EXPECT_FALSE(JnlpDownloader::matchesPlatform("Win", "Windows"));

    const std::string base = JnlpDownloader::defaultCodebase();
    EXPECT_EQ(base, "https://portal.nra.bg/ls");
    EXPECT_EQ(JnlpDownloader::resolveHref(base, "native/x.jar"), "https://portal.nra.bg/ls/native/x.jar");
    EXPECT_EQ(JnlpDownloader::resolveHref("https://h/ls/", "a.jar"), "https://h/ls/a.jar");
    EXPECT_EQ(JnlpDownloader::resolveHref("https://h/ls", "/a.jar"), "https://h/ls/a.jar");
    EXPECT_EQ(JnlpDownloader::resolveHref(base, "https://cdn/a.jar"), "https://cdn/a.jar");
    EXPECT_EQ(JnlpDownloader::resolveHref(base, "HTTPS://cdn/a.jar"), base + "/HTTPS://cdn/a.jar");
}

}  // namespace
}  // namespace velk::core::infra::java
