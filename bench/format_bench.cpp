// Cost of one call of the formatters, with typical pictures and arguments.
#include <benchmark/benchmark.h>

#include "script/runtime/fs_datetime.h"
#include "script/runtime/fs_format.h"

#include <vector>

namespace {

pt::TFormatArg IntArg(int v) {
    pt::TFormatArg a;
    a.kind = pt::TFormatArg::faInt;
    a.i = v;
    return a;
}
pt::TFormatArg FloatArg(double v) {
    pt::TFormatArg a;
    a.kind = pt::TFormatArg::faFloat;
    a.f = v;
    return a;
}
pt::TFormatArg StrArg(const char* v) {
    pt::TFormatArg a;
    a.kind = pt::TFormatArg::faString;
    a.s = v;
    return a;
}

void BM_Format(benchmark::State& state) {
    const pt::TFormatSettings fs;
    std::vector<pt::TFormatArg> args{StrArg("temperature"), IntArg(42), FloatArg(21.375)};
    for (auto _ : state) benchmark::DoNotOptimize(pt::Format("%-12s #%4d = %8.2f", args, fs));
}
BENCHMARK(BM_Format);

void BM_FormatInt(benchmark::State& state) {
    const pt::TFormatSettings fs;
    std::vector<pt::TFormatArg> args{IntArg(123456)};
    for (auto _ : state) benchmark::DoNotOptimize(pt::Format("%d", args, fs));
}
BENCHMARK(BM_FormatInt);

void BM_FormatFloat(benchmark::State& state) {
    const pt::TFormatSettings fs;
    double x = 1234567.891;
    for (auto _ : state) benchmark::DoNotOptimize(pt::FormatFloat("#,##0.00", x, fs));
}
BENCHMARK(BM_FormatFloat);

void BM_FormatFloatExponent(benchmark::State& state) {
    const pt::TFormatSettings fs;
    double x = 0.000123456;
    for (auto _ : state) benchmark::DoNotOptimize(pt::FormatFloat("0.000E+00", x, fs));
}
BENCHMARK(BM_FormatFloatExponent);

void BM_FormatDateTime(benchmark::State& state) {
    const pt::TFormatSettings fs;
    double x = 45637.37850702546;
    for (auto _ : state)
        benchmark::DoNotOptimize(pt::FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", x, fs));
}
BENCHMARK(BM_FormatDateTime);

void BM_FormatDateTimeNames(benchmark::State& state) {
    const pt::TFormatSettings fs;
    double x = 45637.75;
    for (auto _ : state)
        benchmark::DoNotOptimize(pt::FormatDateTime("dddd, mmmm d, yyyy h:nn am/pm", x, fs));
}
BENCHMARK(BM_FormatDateTimeNames);

} // namespace
