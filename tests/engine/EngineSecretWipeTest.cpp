// A PIN the engine holds for its session must be wiped before its memory goes
// back to the heap. This binary replaces the global allocation functions to
// look into every block as it is freed, so it stands alone.
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "engine/InMemorySettings.h"
#include "engine/TestOperations.h"
#include "engine/VelkEngine.h"
#include "support/TempDir.h"

namespace {

// Longer than any short-string buffer, so the PIN's copies live on the heap.
constexpr std::string_view kPin = "PIN-7301-5529-8846-0213";

std::atomic<bool> watching{false};
std::atomic<int> freedWithPin{0};

void inspectAndFree(void* block) {
    if (block != nullptr && watching.load()) {
        const std::size_t size = malloc_usable_size(block);
        if (size >= kPin.size() && memmem(block, size, kPin.data(), kPin.size()) != nullptr) {
            ++freedWithPin;
        }
    }
    std::free(block);
}

void* allocate(std::size_t size) {
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* block) noexcept {
    inspectAndFree(block);
}
void operator delete[](void* block) noexcept {
    inspectAndFree(block);
}
void operator delete(void* block, std::size_t) noexcept {
    inspectAndFree(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    inspectAndFree(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    inspectAndFree(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    inspectAndFree(block);
}

namespace velk::test {
namespace {

class EngineSecretWipeTest : public ::testing::Test {
protected:
    EngineSecretWipeTest() {
        auto store = std::make_unique<InMemorySettings>();
        store->upsertSender(testSender("a"));
        store->setActiveSender("a");
        engine = std::make_unique<core::VelkEngine>(std::move(store));
        freedWithPin = 0;
    }
    ~EngineSecretWipeTest() override { watching = false; }

    IsolatedHome home;  // the session reads remembered PINs
    // The test's own copy, made before watching starts and freed after.
    const std::string pin{kPin};
    std::unique_ptr<core::VelkEngine> engine;
};

TEST_F(EngineSecretWipeTest, APinDroppedByInitialiseIsWiped) {
    watching = true;
    engine->setPin("CERT-a", pin);
    engine->initialise();
    watching = false;
    EXPECT_EQ(freedWithPin.load(), 0);
}

TEST_F(EngineSecretWipeTest, APinReplacedBeforeUseIsWiped) {
    engine->initialise();
    watching = true;
    engine->setPin("CERT-a", pin);
    // Longer than the first, so the held copy cannot be reused in place.
    engine->setPin("CERT-a", std::string(2 * kPin.size(), 'x'));
    watching = false;
    EXPECT_EQ(freedWithPin.load(), 0);
}

TEST_F(EngineSecretWipeTest, APinStillPendingWhenTheEngineGoesIsWiped) {
    engine->initialise();
    watching = true;
    engine->setPin("CERT-a", pin);
    engine.reset();
    watching = false;
    EXPECT_EQ(freedWithPin.load(), 0);
}

}  // namespace
}  // namespace velk::test
