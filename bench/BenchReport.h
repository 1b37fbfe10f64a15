#pragma once

#include <string>

namespace velk::bench {

// One line of the benchmark table that scripts/bench collects:
//   row: NAME | VALUE UNIT | FLOOR UNIT | RATIO | GOAL
// The floor is measured in the same run on the same machine; the ratio is
// value / floor, and the goal (empty: none) is a bound on that ratio such as
// ">= 0.8" or "<= 1.5".
void printRow(const std::string& name, double value, double floor, const std::string& unit,
              const std::string& goal);

}  // namespace velk::bench
