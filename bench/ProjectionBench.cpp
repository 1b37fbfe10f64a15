// Projection of a large inquiry table through its schema: the cost should grow
// with rows x members only (one column lookup per member, not per cell scan).
#include <benchmark/benchmark.h>

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

void BM_ProjectAndDump(benchmark::State& state) {
    const auto schema = wideSchema(12);
    const auto result = table(static_cast<int>(state.range(0)), 12);
    for (auto _ : state) {
        auto text = velk::core::dumpCompact(projectInquiryResult(schema, result));
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_ProjectAndDump)->Arg(5000);

}  // namespace

BENCHMARK_MAIN();
