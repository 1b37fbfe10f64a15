#include <gtest/gtest.h>

#include "infrastructure/signing/TokenPinMemory.h"

namespace velk::signing {
namespace {

TEST(TokenPinMemoryTest, RecallsThePinOfTheSameToken) {
    TokenPinMemory pins;
    pins.remember(3, "SERIAL-A", "1234");
    EXPECT_EQ(pins.recall(3, "SERIAL-A"), "1234");
    EXPECT_EQ(pins.recall(4, "SERIAL-A"), std::nullopt);
}

TEST(TokenPinMemoryTest, AnotherTokenInTheSlotDropsTheEntry) {
    TokenPinMemory pins;
    pins.remember(3, "SERIAL-A", "1234");
    EXPECT_EQ(pins.recall(3, "SERIAL-B"), std::nullopt);
    // Dropped, not merely hidden: the first token coming back does not revive it.
    EXPECT_EQ(pins.recall(3, "SERIAL-A"), std::nullopt);
}

TEST(TokenPinMemoryTest, ForgetAndReplace) {
    TokenPinMemory pins;
    pins.remember(1, "S", "old");
    pins.remember(1, "S", "new");
    EXPECT_EQ(pins.recall(1, "S"), "new");
    pins.forget(1);
    EXPECT_EQ(pins.recall(1, "S"), std::nullopt);
}

}  // namespace
}  // namespace velk::signing
