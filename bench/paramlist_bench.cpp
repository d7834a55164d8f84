// Parameter-list operations on the packet path: name lookup in a row, appending items, and
// appending a whole row to an output list.
#include <benchmark/benchmark.h>

#include "common/noxParamLst.h"

#include <memory>
#include <string>
#include <vector>

using namespace pt;

namespace {

using ListPtr = std::unique_ptr<TnoxParamsList, TnoxParamsListDeleter>;

ListPtr Row(int n) {
    ListPtr l(TnoxParamsList::Create());
    for (int i = 0; i < n; ++i) l->Add("Channel_" + std::to_string(i), Variant(i));
    return l;
}

void BM_IndexOfFoundLast(benchmark::State& state) {
    ListPtr row = Row(20);
    for (auto _ : state) benchmark::DoNotOptimize(row->IndexOf("CHANNEL_19", 0, -2));
}
BENCHMARK(BM_IndexOfFoundLast);

void BM_IndexOfMissing(benchmark::State& state) {
    ListPtr row = Row(20);
    for (auto _ : state) benchmark::DoNotOptimize(row->IndexOf("Pressure", 0, -2));
}
BENCHMARK(BM_IndexOfMissing);

// Lists are refilled in batches so that the untimed clearing is rare next to the work.
constexpr int kBatch = 64;

// Ten items added to an empty list.
void BM_Add10(benchmark::State& state) {
    std::vector<ListPtr> lists;
    for (int i = 0; i < kBatch; ++i) lists.emplace_back(TnoxParamsList::Create());
    std::vector<std::string> names;
    for (int i = 0; i < 10; ++i) names.push_back("Channel_" + std::to_string(i));
    Variant v(3.25);
    for (auto _ : state) {
        for (auto& l : lists)
            for (const std::string& n : names) benchmark::DoNotOptimize(l->Add(n, v));
        state.PauseTiming();
        for (auto& l : lists) l->Clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kBatch); // one item = one Add of 10
}
BENCHMARK(BM_Add10);

// A 10-item row appended (with its marker) to an output list.
void BM_AddRow10(benchmark::State& state) {
    ListPtr row = Row(10);
    std::vector<ListPtr> outs;
    for (int i = 0; i < kBatch; ++i) outs.emplace_back(TnoxParamsList::CreateRows());
    for (auto _ : state) {
        for (auto& out : outs) benchmark::DoNotOptimize(out->AddRow(row.get()));
        state.PauseTiming();
        for (auto& out : outs) out->Clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kBatch); // one item = one AddRow
}
BENCHMARK(BM_AddRow10);

} // namespace
