#include "infrastructure/java/JnlpDownloader.h"

#include <curl/curl.h>

#include <exception>

#include "common/AgencyEndpoints.h"
#include "common/Logger.h"
#include "common/TextUtils.h"
#include "infrastructure/http/CurlPtr.h"
#include "infrastructure/http/TransportOverrides.h"
#include "infrastructure/java/ZipEntryReader.h"
#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"

namespace velk::core::infra::java {

namespace {

constexpr long kTimeoutSeconds = 120;
constexpr std::size_t kPreviewBytes = 500;

struct Body {
    std::string* out;
    bool tooLarge = false;
};

std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) {
    auto* body = static_cast<Body*>(user);
    const std::size_t bytes = size * count;
    if (body->out->size() + bytes > JnlpDownloader::kMaxDownloadBytes) {
        body->tooLarge = true;
        return 0;  // aborts the transfer
    }
    body->out->append(data, bytes);
    return bytes;
}

// The last path component of an href; empty for one that names no file, so
// that "..", "." or a trailing slash can never point outside the folder.
std::string fileNameOf(const std::string& href) {
    const std::size_t slash = href.find_last_of("/\\");
    std::string name = slash == std::string::npos ? href : href.substr(slash + 1);
    if (name == "." || name == ".." || name.find('\0') != std::string::npos) {
        return {};
    }
    return name;
}

bool readsAsZip(const std::string& bytes) {
    return forEachZipEntry(bytes, [](const ZipEntryInfo&) {});
}

}  // namespace

std::string JnlpDownloader::manifestUrl() {
    return std::string(AgencyEndpoints::kPortalBaseUrl) + "/ls/java/zezizurls-vat.jnlp";
}

std::string JnlpDownloader::defaultCodebase() {
    return std::string(AgencyEndpoints::kPortalBaseUrl) + "/ls";
}

JnlpPlatform JnlpDownloader::defaultPlatform() {
    return JnlpPlatform{"Windows", "amd64"};
}

JnlpManifest JnlpDownloader::parseManifest(const std::string& text) {
    JnlpManifest manifest = parseJnlpManifest(text, defaultPlatform());
    if (manifest.codebase.empty()) {
        manifest.codebase = defaultCodebase();
    }
    return manifest;
}

bool JnlpDownloader::matchesPlatform(const std::string& attribute, const std::string& platformValue) {
    return jnlpPlatformMatches(attribute, platformValue);
}

std::string JnlpDownloader::resolveHref(const std::string& base, const std::string& href) {
    if (href.rfind("http://", 0) == 0 || href.rfind("https://", 0) == 0) {
        return href;
    }
    if (!base.empty() && base.back() != '/' && !href.empty() && href.front() != '/') {
        return base + "/" + href;
    }
    return base + href;
}

bool JnlpDownloader::fetch(const Fetcher& fetcher, const std::string& url, std::string& out) {
    out.clear();
    if (fetcher) {
        std::vector<std::uint8_t> bytes;
        try {
            bytes = fetcher(url);
        } catch (const std::exception& e) {
            logLine(LogLevel::Warn, "JnlpDownloader: session fetch failed for " + loggableText(url) + ": " +
                                        loggableText(e.what()));
        }
        if (!bytes.empty() && bytes.size() <= kMaxDownloadBytes) {
            out.assign(bytes.begin(), bytes.end());
            return true;
        }
        logLine(LogLevel::Warn, "JnlpDownloader: session fetch returned 0 bytes for " + loggableText(url) +
                                    "; trying anonymous fallback");
    }
    out.clear();
    return httpGet(url, out) && !out.empty();
}

bool JnlpDownloader::httpGet(const std::string& url, std::string& out) {
    const http::CurlEasyPtr curl(curl_easy_init());
    if (!curl) {
        return false;
    }
    // Outlives the transfer: the handle keeps pointers into it.
    const http::TransportOverrides overrides = http::TransportOverrides::fromEnvironment();
    Body body{&out};
    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, kTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "VezoRodarC/0.1");
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
    overrides.apply(handle);

    const CURLcode rc = curl_easy_perform(handle);
    if (rc != CURLE_OK) {
        const std::string reason =
            body.tooLarge ? std::string("body larger than the limit") : curl_easy_strerror(rc);
        logLine(LogLevel::Warn, "JnlpDownloader: curl error on " + loggableText(url) + ": " + reason);
        out.clear();
        return false;
    }
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299) {
        logLine(LogLevel::Warn,
                "JnlpDownloader: HTTP " + std::to_string(status) + " for " + loggableText(url));
        out.clear();
        return false;
    }
    return true;
}

std::vector<std::string> JnlpDownloader::downloadJars(const std::string& targetDir, Fetcher fetcher) {
    const std::string url = manifestUrl();
    logLine(LogLevel::Info, "JnlpDownloader: fetching " + loggableText(url) +
                                (fetcher ? " (authenticated)" : " (anonymous)"));
    std::string text;
    if (!fetch(fetcher, url, text)) {
        logLine(LogLevel::Error, "JnlpDownloader: failed to fetch JNLP manifest — likely not logged in to " +
                                     std::string(AgencyEndpoints::kPortalHost));
        return {};
    }
    logLine(LogLevel::Info, "JnlpDownloader: received " + std::to_string(text.size()) + " bytes");
    const JnlpManifest manifest = parseManifest(text);
    if (manifest.jars.empty()) {
        const std::string preview =
            text.size() > kPreviewBytes ? utf8SafePrefix(text, kPreviewBytes) + "..." : text;
        logLine(LogLevel::Error,
                "JnlpDownloader: manifest parsed 0 jar entries. Body preview: " + loggableText(preview));
        return {};
    }
    logLine(LogLevel::Info, "JnlpDownloader: manifest codebase=" + loggableText(manifest.codebase) +
                                " jars=" + std::to_string(manifest.jars.size()));
    for (const JnlpJar& jar : manifest.jars) {
        logLine(LogLevel::Info, "  jar href=" + loggableText(jar.href));
    }
    platform::createDirectories(targetDir);

    const std::string base = manifest.codebase.empty() ? defaultCodebase() : manifest.codebase;
    std::vector<std::string> written;
    for (const JnlpJar& jar : manifest.jars) {
        const std::string jarUrl = resolveHref(base, jar.href);
        logLine(LogLevel::Info, "JnlpDownloader: GET " + loggableText(jarUrl));
        std::string bytes;
        if (!fetch(fetcher, jarUrl, bytes)) {
            logLine(LogLevel::Warn, "JnlpDownloader: failed to fetch " + loggableText(jarUrl));
            continue;
        }
        const std::string name = fileNameOf(jar.href);
        if (name.empty()) {
            logLine(LogLevel::Warn, "JnlpDownloader: no file name in href " + loggableText(jar.href));
            continue;
        }
        if (!readsAsZip(bytes)) {
            logLine(LogLevel::Warn, "JnlpDownloader: " + loggableText(jarUrl) + " is not a JAR (" +
                                        std::to_string(bytes.size()) + " bytes); not written");
            continue;
        }
        const std::string target = platform::joinPath(targetDir, name);
        if (platform::writeFileAtomically(target, bytes) != 0) {
            logLine(LogLevel::Warn, "JnlpDownloader: cannot write " + loggableText(target));
            continue;
        }
        written.push_back(target);
    }
    logLine(LogLevel::Info, "JnlpDownloader: downloaded " + std::to_string(written.size()) + " JAR(s) to " +
                                loggableText(targetDir));
    return written;
}

std::string JnlpDownloader::extractNativeLib(const std::string& jarHref, const std::string& entryName,
                                             const std::string& targetDir, Fetcher fetcher) {
    const std::string url = defaultCodebase() + "/" + jarHref;
    std::string archive;
    if (!fetch(fetcher, url, archive)) {
        return {};
    }
    logLine(LogLevel::Info, "JnlpDownloader: extracting " + loggableText(entryName) + " from " +
                                loggableText(jarHref) + " (" + std::to_string(archive.size()) + " bytes)");
    std::string library;
    if (!extractZipEntry(archive, asciiLower(entryName), library)) {
        logLine(LogLevel::Warn, "JnlpDownloader: could not extract " + loggableText(entryName) + " from " +
                                    loggableText(jarHref) + " — contents:");
        listZipEntries(archive, loggableText(fileNameOf(jarHref)));
        return {};
    }
    logLine(LogLevel::Info, "JnlpDownloader: extracted " + loggableText(entryName) + " (" +
                                std::to_string(library.size()) + " bytes)");
    platform::createDirectories(targetDir);
    const std::string target = platform::joinPath(targetDir, entryName);
    if (platform::writeFileAtomically(target, library) != 0) {
        return {};
    }
    logLine(LogLevel::Info, "JnlpDownloader: wrote " + loggableText(target));
    return target;
}

}  // namespace velk::core::infra::java
