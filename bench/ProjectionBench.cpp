// Projection of a large inquiry table through its schema: the cost should grow
// with rows x members only (one column lookup per member, not per cell scan).
// The floor is a plain nlohmann::json build of the same rows (the same keys,
// numbers parsed with strtod); the run ends with the projection's ratio to it
// at 10,000 rows, by CPU time (other jobs on the machine bend the wall clock).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>
#include <string>

#include "BenchReport.h"
#include "common/JsonUtils.h"
#include "operations/ResultProjection.h"

namespace {

using namespace velk::core::operations;

ResultSchema wideSchema(int members) {
    SchemaField items{"items", "Записи", FieldType::ObjectArray, false, "", {}, "Item", {}};
    for (int m = 0; m < members; ++m) {
        const FieldType type =
            m % 3 == 0 ? FieldType::Number : (m % 3 == 1 ? FieldType::Integer : FieldType::String);
        items.fields.push_back(SchemaField{"col" + std::to_string(m), "", type, true, "", {}, "", {}});
    }
    return ResultSchema{"BenchResult",
                        {items, SchemaField{"status", "", FieldType::Enum, false, "", {"ok"}, "", {}}}};
}

InquiryResult table(int rows, int members) {
    InquiryResult r;
    for (int m = 0; m < members; ++m) {
        r.columns.push_back({"col" + std::to_string(m), ""});
    }
    for (int i = 0; i < rows; ++i) {
        std::vector<std::string> row;
        for (int m = 0; m < members; ++m) {
            row.push_back(std::to_string(i * 7 + m) + ".25");
        }
        r.rows.push_back(std::move(row));
    }
    r.metadata["status"] = "ok";
    return r;
}

void BM_ProjectInquiry(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    const int members = static_cast<int>(state.range(1));
    const auto schema = wideSchema(members);
    const auto result = table(rows, members);
    for (auto _ : state) {
        auto value = projectInquiryResult(schema, result);
        benchmark::DoNotOptimize(value);
    }
    state.SetItemsProcessed(state.iterations() * rows * members);
}
BENCHMARK(BM_ProjectInquiry)->Args({100, 10})->Args({10000, 10})->Args({1000, 60});

// The floor: the same rows as objects of typed members, with no schema.
void BM_PlainJsonRows(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    const int members = static_cast<int>(state.range(1));
    const auto result = table(rows, members);
    for (auto _ : state) {
        velk::core::json items = velk::core::json::array();
        for (const auto& row : result.rows) {
            velk::core::json item = velk::core::json::object();
            for (int m = 0; m < members; ++m) {
                const std::string& cell = row[static_cast<std::size_t>(m)];
                const std::string& key = result.columns[static_cast<std::size_t>(m)].id;
                if (m % 3 == 2) {
                    item[key] = cell;
                } else if (m % 3 == 1) {
                    item[key] = std::strtoll(cell.c_str(), nullptr, 10);
                } else {
                    item[key] = std::strtod(cell.c_str(), nullptr);
                }
            }
            items.push_back(std::move(item));
        }
        velk::core::json value = {{"items", std::move(items)}, {"status", result.metadata.at("status")}};
        benchmark::DoNotOptimize(value);
    }
    state.SetItemsProcessed(state.iterations() * rows * members);
}
BENCHMARK(BM_PlainJsonRows)->Args({10000, 10});

void BM_ProjectAndDump(benchmark::State& state) {
    const auto schema = wideSchema(12);
    const auto result = table(static_cast<int>(state.range(0)), 12);
    for (auto _ : state) {
        auto text = velk::core::dumpCompact(projectInquiryResult(schema, result));
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_ProjectAndDump)->Arg(5000);

// The console report, with each run's time per iteration kept by name.
class KeepingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.iterations > 0) {
                seconds[run.benchmark_name()] =
                    run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    KeepingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto projection = reporter.seconds.find("BM_ProjectInquiry/10000/10");
    const auto plain = reporter.seconds.find("BM_PlainJsonRows/10000/10");
    if (projection != reporter.seconds.end() && plain != reporter.seconds.end()) {
        // Rows a second: the projection against the plain build.
        velk::bench::printRow("projection of 10,000 rows vs plain json build", 1e4 / projection->second,
                              1e4 / plain->second, "rows/s", "");
    }
    benchmark::Shutdown();
    return 0;
}
