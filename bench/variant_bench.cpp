// Micro-benchmarks of the value type: copies, arithmetic, comparison and text conversion.
#include <benchmark/benchmark.h>

#include "script/runtime/fs_operators.h"
#include "script/runtime/fs_variant.h"

#include <string>

namespace pt {
namespace {

void BM_CopyInteger(benchmark::State& state) {
    Variant src(123456);
    for (auto _ : state) {
        Variant copy = src;
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_CopyInteger);

void BM_CopyString(benchmark::State& state) {
    Variant src(std::string(64, 's'));
    for (auto _ : state) {
        Variant copy = src;
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_CopyString);

void BM_AddIntegers(benchmark::State& state) {
    Variant acc(0), one(1);
    for (auto _ : state) {
        acc = VarBinaryOp(opAdd, acc, one);
        if (acc.Raw().u.i32 > 1000000) acc = Variant(0);
        benchmark::DoNotOptimize(acc);
    }
}
BENCHMARK(BM_AddIntegers);

void BM_AddDoubles(benchmark::State& state) {
    Variant acc(0.0), step(0.5);
    for (auto _ : state) {
        acc = VarBinaryOp(opAdd, acc, step);
        benchmark::DoNotOptimize(acc);
    }
}
BENCHMARK(BM_AddDoubles);

void BM_AddIntegerAndDouble(benchmark::State& state) {
    Variant a(3), b(0.5);
    for (auto _ : state) {
        Variant r = VarBinaryOp(opAdd, a, b);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_AddIntegerAndDouble);

void BM_CompareStrings(benchmark::State& state) {
    Variant a("temperature_sensor_01"), b("temperature_sensor_02");
    for (auto _ : state) {
        bool lt = VarCompare(cmpLt, a, b);
        benchmark::DoNotOptimize(lt);
    }
}
BENCHMARK(BM_CompareStrings);

void BM_IntegerToText(benchmark::State& state) {
    int32_t i = 0;
    for (auto _ : state) {
        std::string s = Variant(i++ * 7919).ToStr();
        benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(BM_IntegerToText);

void BM_DoubleToText(benchmark::State& state) {
    double x = 0.1;
    for (auto _ : state) {
        std::string s = Variant(x).ToStr();
        x += 1.37;
        benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(BM_DoubleToText);

void BM_AppendCharInPlace(benchmark::State& state) {
    Variant c("c");
    for (auto _ : state) {
        Variant s("");
        for (int i = 0; i < 1000; ++i) VarBinaryOpInPlace(opAdd, s, c);
        benchmark::DoNotOptimize(s);
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_AppendCharInPlace);

} // namespace
} // namespace pt
