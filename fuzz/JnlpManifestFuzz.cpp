// The JNLP manifest from the network: no recursion, no exception, and every
// JAR named has a non-empty href. Its href and size come from where the JARs
// are read: the content of a resources block for the platform, or the text
// with every resources block cut out (so a value may join the text on both
// sides of a cut block, but never takes a byte of another platform's block).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "common/TextUtils.h"
#include "infrastructure/java/JnlpManifest.h"

namespace {

using namespace velk::core;
using namespace velk::core::infra::java;

bool isWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Group 1 of the first match of \bNAME="([^"]*)" in the lower-cased text.
std::string firstAttribute(std::string_view text, const std::string& name) {
    const std::string lower = asciiLower(text);
    const std::string opening = name + "=\"";
    for (std::size_t at = lower.find(opening); at != std::string::npos; at = lower.find(opening, at + 1)) {
        if (at > 0 && isWordChar(lower[at - 1])) {
            continue;
        }
        const std::size_t close = lower.find('"', at + opening.size());
        if (close == std::string::npos) {
            return {};
        }
        return std::string(text.substr(at + opening.size(), close - at - opening.size()));
    }
    return {};
}

// Where JAR values may come from: the content of each block
// <resources\b([^>]*)>([\s\S]*?)</resources> whose os and arch match the
// platform, and the text with every such block cut out.
std::vector<std::string> sourcesOfJars(std::string_view text, const JnlpPlatform& platform) {
    const std::string lower = asciiLower(text);
    std::vector<std::string> sources;
    std::string rest;
    std::size_t restFrom = 0;
    std::size_t at = 0;
    for (;;) {
        const std::size_t start = lower.find("<resources", at);
        if (start == std::string::npos) {
            break;
        }
        const std::size_t afterName = start + 10;
        if (afterName < lower.size() && isWordChar(lower[afterName])) {
            at = start + 1;
            continue;
        }
        const std::size_t gt = lower.find('>', afterName);
        const std::size_t close = gt == std::string::npos ? gt : lower.find("</resources>", gt + 1);
        if (close == std::string::npos) {
            break;
        }
        const std::string_view attributes = text.substr(afterName, gt - afterName);
        if (jnlpPlatformMatches(firstAttribute(attributes, "os"), platform.os) &&
            jnlpPlatformMatches(firstAttribute(attributes, "arch"), platform.arch)) {
            sources.emplace_back(text.substr(gt + 1, close - gt - 1));
        }
        rest.append(text.substr(restFrom, start - restFrom));
        at = restFrom = close + 12;
    }
    rest.append(text.substr(std::min(restFrom, text.size())));
    sources.push_back(std::move(rest));
    return sources;
}

bool isPieceOfOne(const std::vector<std::string>& sources, const std::string& value) {
    for (const std::string& source : sources) {
        if (source.find(value) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    VELK_FUZZ_NO_THROW({
        for (const JnlpPlatform& platform :
             {JnlpPlatform{"Linux", "amd64"}, JnlpPlatform{"Windows", "x86"}, JnlpPlatform{"", ""}}) {
            const JnlpManifest manifest = parseJnlpManifest(text, platform);
            const std::vector<std::string> sources = sourcesOfJars(text, platform);
            VELK_FUZZ_CHECK(manifest.codebase.size() <= size);
            VELK_FUZZ_CHECK(manifest.codebase.empty() || icontainsAscii(text, manifest.codebase));
            std::set<std::string> seen;
            for (const JnlpJar& jar : manifest.jars) {
                VELK_FUZZ_CHECK(!jar.href.empty());
                VELK_FUZZ_CHECK(isPieceOfOne(sources, jar.href));
                VELK_FUZZ_CHECK(jar.size.empty() || isPieceOfOne(sources, jar.size));
                seen.insert(jar.href);
            }
        }
        // The attribute matcher: empty matches all, and a value matches itself.
        const std::size_t half = size / 2;
        const std::string_view attribute = text.substr(0, half);
        const std::string_view value = text.substr(half);
        (void)jnlpPlatformMatches(attribute, value);
        VELK_FUZZ_CHECK(jnlpPlatformMatches("", value));
        if (attribute.find_first_of(" \t\r\n\v\f\\") == std::string_view::npos && !attribute.empty()) {
            VELK_FUZZ_CHECK(jnlpPlatformMatches(attribute, asciiUpper(attribute)));
        }
    });
    return 0;
}
