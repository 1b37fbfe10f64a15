#include "BenchReport.h"

#include <cstdio>

namespace velk::bench {

void printRow(const std::string& name, double value, double floor, const std::string& unit,
              const std::string& goal) {
    const double ratio = floor > 0 ? value / floor : 0.0;
    std::printf("row: %s | %.4g %s | %.4g %s | %.3f | %s\n", name.c_str(), value, unit.c_str(), floor,
                unit.c_str(), ratio, goal.empty() ? "-" : goal.c_str());
    std::printf("ratio: %.3f\n", ratio);
    std::fflush(stdout);
}

}  // namespace velk::bench
