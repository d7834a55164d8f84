// The compiled runtime on four workloads: recursive calls, a numeric loop, building a string
// one character at a time, and compiling a 1000-line program.
#include <benchmark/benchmark.h>

#include "script/front/fs_iilparser.h"
#include "script/runtime/fs_iexpression.h"
#include "script/runtime/fs_iinterpreter.h"
#include "script_workloads.h"

#include <memory>

namespace pt {
namespace {

void DeclareBasics(TfsScript& s) {
    for (const char* n : {"Byte", "Word", "Integer", "Longint", "Cardinal"})
        s.DeclareType(n, fvtInt);
    s.DeclareType("Boolean", fvtBool);
    for (const char* n : {"Real", "Single", "Double", "Extended", "Currency"})
        s.DeclareType(n, fvtFloat);
    s.DeclareType("Char", fvtChar);
    s.DeclareType("String", fvtString);
    s.DeclareType("Variant", fvtVariant);
    if (!s.Lookup("__StringHelper")) DeclareElementHelpers(s);
}

struct Compiled {
    TfsScript system;
    TfsScript script;
    explicit Compiled(const std::string& text) {
        system.Parent = GlobalUnit();
        DeclareBasics(system);
        script.Parent = &system;
        script.Lines = SplitLines(text);
        if (!script.Compile())
            throw std::runtime_error(script.ErrorLocation + ": " + script.ErrorText);
    }
};

void RunScript(benchmark::State& state, const char* text) {
    Compiled c(text);
    for (auto _ : state) c.script.Execute();
}

void BM_Script_Fib24(benchmark::State& state) {
    RunScript(state, bench::kFibPascal);
}
BENCHMARK(BM_Script_Fib24)->Unit(benchmark::kMillisecond);

void BM_Script_LoopSumSquares1M(benchmark::State& state) {
    RunScript(state, bench::kLoopPascal);
}
BENCHMARK(BM_Script_LoopSumSquares1M)->Unit(benchmark::kMillisecond);

void BM_Script_BuildString10k(benchmark::State& state) {
    RunScript(state, bench::kStringPascal);
}
BENCHMARK(BM_Script_BuildString10k)->Unit(benchmark::kMicrosecond);

void BM_Script_Compile1000Lines(benchmark::State& state) {
    const std::string text = bench::ThousandLinePascal();
    TfsScript system;
    system.Parent = GlobalUnit();
    DeclareBasics(system);
    TfsScript script;
    script.Parent = &system;
    for (auto _ : state) {
        script.Reset();
        script.Lines = SplitLines(text);
        if (!script.Compile()) state.SkipWithError(script.ErrorText.c_str());
    }
}
BENCHMARK(BM_Script_Compile1000Lines)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace pt
