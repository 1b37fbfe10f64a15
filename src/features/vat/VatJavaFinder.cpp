#include "features/vat/VatJavaFinder.h"

#include <mutex>
#include <utility>

namespace velk::core::features::vat {

namespace {

std::mutex& finderMutex() {
    static std::mutex mutex;
    return mutex;
}

ScopedJavaFinder::Finder& replacement() {
    static ScopedJavaFinder::Finder finder;
    return finder;
}

}  // namespace

std::optional<infra::java::JavaInstall> findJavaForVat() {
    ScopedJavaFinder::Finder finder;
    {
        std::lock_guard lock(finderMutex());
        finder = replacement();
    }
    return finder ? finder() : infra::java::findJava();
}

ScopedJavaFinder::ScopedJavaFinder(Finder finder) {
    std::lock_guard lock(finderMutex());
    replacement() = std::move(finder);
}

ScopedJavaFinder::~ScopedJavaFinder() {
    std::lock_guard lock(finderMutex());
    replacement() = nullptr;
}

}  // namespace velk::core::features::vat
