#pragma once

// Nesting depth of a parsed value, counted without recursion (a scalar is 0),
// for the targets that check the readers' depth bound.

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "common/JsonUtils.h"

namespace velk::fuzz {

inline std::size_t jsonDepth(const velk::core::json& root) {
    std::size_t deepest = 0;
    std::vector<std::pair<const velk::core::json*, std::size_t>> stack{{&root, 0}};
    while (!stack.empty()) {
        const auto [value, depth] = stack.back();
        stack.pop_back();
        if (value->is_structured()) {
            deepest = std::max(deepest, depth + 1);
            for (const velk::core::json& child : *value) {
                stack.emplace_back(&child, depth + 1);
            }
        }
    }
    return deepest;
}

}  // namespace velk::fuzz
