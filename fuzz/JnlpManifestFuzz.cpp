// The JNLP manifest from the network: no recursion, no exception, and every
// JAR named has a non-empty href, its href and size no longer than the text.
// (JARs outside the platform blocks are read from the text with those blocks
// cut out, so a value may join the text on both sides of a block.)

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "common/TextUtils.h"
#include "infrastructure/java/JnlpManifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velk::core;
    using namespace velk::core::infra::java;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    VELK_FUZZ_NO_THROW({
        for (const JnlpPlatform& platform :
             {JnlpPlatform{"Linux", "amd64"}, JnlpPlatform{"Windows", "x86"}, JnlpPlatform{"", ""}}) {
            const JnlpManifest manifest = parseJnlpManifest(text, platform);
            VELK_FUZZ_CHECK(manifest.codebase.size() <= size);
            VELK_FUZZ_CHECK(manifest.codebase.empty() || icontainsAscii(text, manifest.codebase));
            std::set<std::string> seen;
            for (const JnlpJar& jar : manifest.jars) {
                VELK_FUZZ_CHECK(!jar.href.empty());
                VELK_FUZZ_CHECK(jar.href.size() <= size);
                VELK_FUZZ_CHECK(jar.size.size() <= size);
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
