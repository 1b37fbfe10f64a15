#pragma once

#include <functional>
#include <optional>

#include "infrastructure/java/JavaDiscovery.h"

namespace velk::core::features::vat {

// What the VAT operations tell the user to do when no Java runtime is found:
// the distribution's own Java package.
inline constexpr const char* kJavaPackageAdvice =
    "Инсталирайте пакета default-jre (sudo apt install default-jre). "
    "След инсталацията рестартирайте ВЕЛК агента и опитайте отново.";

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
