#pragma once

#include <chrono>

namespace velk::test {

// Generous for any machine, yet well short of ctest's own time-out, so a
// regression fails with a message instead of hanging the run.
inline constexpr std::chrono::seconds kPollDeadline{60};

// Checks `done` until it holds, running `between` after each miss (a sleep,
// or a turn of the event loop). False when the deadline passes first.
template <class Done, class Between>
[[nodiscard]] bool pollUntil(Done done, Between between) {
    const auto end = std::chrono::steady_clock::now() + kPollDeadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        between();
    }
    return true;
}

}  // namespace velk::test
