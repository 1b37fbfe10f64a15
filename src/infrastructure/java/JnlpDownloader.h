#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "infrastructure/java/JnlpManifest.h"

namespace velk::core::infra::java {

// Downloads the agency's Java VAT client as its JNLP manifest lists it, and
// takes the client's native library out of its JAR. Each download goes
// through the fetch function first (a GET through the logged-in portal
// session) and falls back to an anonymous GET. A JAR (and the library) is
// written only when it reads as a ZIP archive (or was taken out of one), and
// through a temporary file and a rename: an error page never lands as a
// library, and a running Java never reads a half-written file.
class JnlpDownloader {
public:
    // Body bytes of a GET; empty means failure (a status outside 2xx too).
    using Fetcher = std::function<std::vector<std::uint8_t>(const std::string&)>;

    // The paths written, in manifest order; empty when the manifest failed.
    static std::vector<std::string> downloadJars(const std::string& targetDir, Fetcher fetcher);
    // The path of the library written, or empty.
    static std::string extractNativeLib(const std::string& jarHref, const std::string& entryName,
                                        const std::string& targetDir, Fetcher fetcher);

    static bool fetch(const Fetcher& fetcher, const std::string& url, std::string& out);
    static bool httpGet(const std::string& url, std::string& out);
    static JnlpManifest parseManifest(const std::string& text);
    static bool matchesPlatform(const std::string& attribute, const std::string& platformValue);
    static JnlpPlatform defaultPlatform();

    // Where an href of the manifest is fetched from.
    static std::string resolveHref(const std::string& base, const std::string& href);

    static std::string manifestUrl();
    static std::string defaultCodebase();

    // Largest body taken from the network; a JAR of the client is a few MiB.
    static constexpr std::size_t kMaxDownloadBytes = 256 * 1024 * 1024;
};

}  // namespace velk::core::infra::java
