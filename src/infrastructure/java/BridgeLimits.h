#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/TextUtils.h"

namespace velk::core::infra::java {

// Bounds on what the bridge keeps of a Java child's output: the child is
// outside input, and its texts go into results, JSON and the log.
inline constexpr std::size_t kMaxCollectedBytes = 1024 * 1024;  // output, error text
inline constexpr std::size_t kMaxResultTextBytes = 4096;        // one error text
inline constexpr std::size_t kMaxResultTexts = 200;             // error texts of one run
inline constexpr std::size_t kMaxLogTextBytes = 2000;           // one line in the log

// A text of the child as a result may carry it: valid UTF-8, bounded.
inline std::string resultText(std::string_view text) {
    return toValidUtf8(utf8SafePrefix(text, kMaxResultTextBytes));
}

// A text of the child as the log may carry it.
inline std::string logText(std::string_view text) {
    std::string out = loggableText(text, kMaxLogTextBytes);
    if (text.size() > kMaxLogTextBytes) {
        out += "… (" + std::to_string(text.size()) + " bytes)";
    }
    return out;
}

}  // namespace velk::core::infra::java
