#pragma once

#include <functional>
#include <optional>

#include "infrastructure/java/JavaDiscovery.h"

namespace velk::core::features::vat {

// The Microsoft OpenJDK 11 installer (64-bit Windows) that the VAT
// operations name when no Java runtime is found.
inline constexpr const char* kOpenJdk11InstallerUrl =
    "https://aka.ms/download-jdk/microsoft-jdk-11.0.25-windows-x64.msi";

// The Java search the VAT operations make before any portal work: findJava,
// unless a ScopedJavaFinder replaces it.
std::optional<infra::java::JavaInstall> findJavaForVat();

// Replaces that search while it lives, so that a test on a machine with a JDK
// can play one without. Not nested; tests only.
class ScopedJavaFinder {
public:
    using Finder = std::function<std::optional<infra::java::JavaInstall>()>;

    explicit ScopedJavaFinder(Finder finder);
    ~ScopedJavaFinder();
    ScopedJavaFinder(const ScopedJavaFinder&) = delete;
    ScopedJavaFinder& operator=(const ScopedJavaFinder&) = delete;
};

}  // namespace velk::core::features::vat
