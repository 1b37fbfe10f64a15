#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velk::core::infra::java {

struct JnlpJar {
    std::string href;  // as written: relative to the codebase, or absolute
    std::string size;  // the size attribute, empty when there is none
};

struct JnlpManifest {
    std::string codebase;
    std::vector<JnlpJar> jars;
};

struct JnlpPlatform {
    std::string os;
    std::string arch;
};

// Reads a JNLP manifest the way these patterns would, matched without regard
// to case, but with scanners that never recurse (the manifest comes from the
// network):
//   codebase   <jnlp[^>]*codebase="([^"]+)"
//   block      <resources\b([^>]*)>([\s\S]*?)</resources>
//   os, arch   \bos="([^"]*)"   \barch="([^"]*)"   (in a block's attributes)
//   JAR        <(?:jar|nativelib)[^>]*\bhref="([^"]+)"(?:[^>]*\bsize="([^"]+)")?
// The JARs of every block for the platform come first, in document order,
// then those outside every block whose href is not listed yet. An empty
// codebase is left for the caller's default.
JnlpManifest parseJnlpManifest(std::string_view text, const JnlpPlatform& platform);

// An os or arch attribute of a resources element against the platform's
// value: empty matches all; backslash escapes removed; the whole value or
// one of its blank-separated words equal without regard to ASCII case.
bool jnlpPlatformMatches(std::string_view attribute, std::string_view platformValue);

}  // namespace velk::core::infra::java
