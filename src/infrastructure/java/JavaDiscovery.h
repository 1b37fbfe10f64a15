#pragma once

#include <optional>
#include <string>

#include "infrastructure/java/JavaProbes.h"

namespace velk::core::infra::java {

// A Java runtime that answered "-version".
struct JavaInstall {
    std::string path;     // the java program as the search built it
    std::string version;  // never empty
    bool is64 = false;    // the report names a 64-Bit VM
};

// Where findJava looks, in this order: the OpenWebStart runtime of the user,
// $JAVA_HOME/bin/java, every entry of the JVM folder (sorted by name), then
// "java" in each folder of PATH.
struct JavaSearchPlaces {
    std::string openWebStartJava;  // empty: none
    std::string javaHome;          // empty: unset
    std::string jvmFolder;         // empty: none
    std::string path;              // the PATH value

    // From the per-user data folder, JAVA_HOME, /usr/lib/jvm and PATH.
    static JavaSearchPlaces fromEnvironment();
};

// The first runtime whose "-version" report holds a quoted version. Every
// call searches anew. No minimum version is enforced. A candidate that gives
// no report in time is passed over; once the probes are ended the search
// ends with nothing. Without probes given, the agent's shared ones run.
std::optional<JavaInstall> findJava();
std::optional<JavaInstall> findJava(const JavaSearchPlaces& places);
std::optional<JavaInstall> findJava(const JavaSearchPlaces& places, JavaProbes& probes);

// Runs the program with "-version" and reads its report (standard error).
// Nothing when it is not a regular file, does not start, gives no report in
// time or reports no version.
std::optional<JavaInstall> probeJava(const std::string& path);
std::optional<JavaInstall> probeJava(const std::string& path, JavaProbes& probes);

// The quoted version after the word version, and whether "64-Bit" appears.
bool parseJavaVersion(const std::string& output, std::string& version, bool& is64);

// 2 for a 64-Bit VM, 1 for 32-Bit, 0 when the report says neither or the
// program gives none.
int detectJavaArch(const std::string& path);
int detectJavaArch(const std::string& path, JavaProbes& probes);

// The JAR of the agency's client that carries its native library for the
// architecture; empty for an unknown one.
std::string nativeLibJarForArch(int arch);
std::string nativeLibName();

}  // namespace velk::core::infra::java
