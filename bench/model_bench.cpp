// The program model: registering functions by prototype, looking names up, and the cost of
// one call through each handler style.
#include "script/runtime/fs_iinterpreter.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

namespace pt {
namespace {

void DeclareTypes(TfsScript& s) {
    for (const char* n : {"Byte", "Word", "Integer", "Longint", "Cardinal"})
        s.DeclareType(n, fvtInt);
    s.DeclareType("Boolean", fvtBool);
    for (const char* n : {"Double", "Extended", "TDateTime"}) s.DeclareType(n, fvtFloat);
    s.DeclareType("Char", fvtChar);
    s.DeclareType("String", fvtString);
    s.DeclareType("Variant", fvtVariant);
    s.DeclareConst("False", "Boolean", Variant(false));
}

// Prototypes shaped like the library's: a few parameters, some defaults, a comment now and then.
std::vector<std::string> Prototypes(int n) {
    const char* shapes[] = {
        "function %s(const S: string; Index: Integer = 1): string",
        "function %s(A, B: Double): Boolean",
        "function %s(const Value: TDateTime; const Fmt: string = ''): string",
        "procedure %s(var X: Integer; Incr: Integer = 1)",
        "function %s(const AYear, AWeek, {ISO 8601} ADay: Word): Boolean",
        "function %s(): TDateTime",
        "function %s(const Str: string; const Strict: Boolean = False): Integer",
    };
    std::vector<std::string> out;
    char buf[160];
    for (int i = 0; i < n; ++i) {
        // Names in no particular order, as units register them.
        std::string name = "Fn" + std::to_string((i * 7919) % 100003) + "X";
        snprintf(buf, sizeof buf, shapes[i % 7], name.c_str());
        out.push_back(buf);
    }
    return out;
}

Variant Nothing(void*, TfsClassRef, std::string_view, TfsCallFrame&) {
    return Variant();
}

void BM_Register1000Prototypes(benchmark::State& state) {
    TfsScript types;
    DeclareTypes(types);
    const auto protos = Prototypes(1000);
    for (auto _ : state) {
        TfsScript s;
        s.Parent = &types;
        for (const auto& p : protos) s.DeclareMethod(p, TfsHelperCallEvent(Nothing), "ctMisc");
        benchmark::DoNotOptimize(s.ItemCount());
        state.PauseTiming();
        s.Reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_Register1000Prototypes)->Unit(benchmark::kMicrosecond);

void BM_LookupIn1000ItemScope(benchmark::State& state) {
    TfsScript types;
    DeclareTypes(types);
    TfsScript s;
    s.Parent = &types;
    const auto protos = Prototypes(1000);
    std::vector<std::string> names;
    for (const auto& p : protos)
        names.push_back(s.DeclareMethod(p, TfsHelperCallEvent(Nothing))->Name());
    for (auto& n : names) n = UpperCaseName(n).substr(0, 1) + n.substr(1); // other letter case
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(s.Lookup(names[i]));
        i = (i + 389) % names.size();
    }
}
BENCHMARK(BM_LookupIn1000ItemScope);

void BM_LookupMissThroughParent(benchmark::State& state) {
    TfsScript types;
    DeclareTypes(types);
    TfsScript s;
    s.Parent = &types;
    for (const auto& p : Prototypes(1000)) s.DeclareMethod(p, TfsHelperCallEvent(Nothing));
    for (auto _ : state) benchmark::DoNotOptimize(s.Lookup("NoSuchName"));
}
BENCHMARK(BM_LookupMissThroughParent);

// One call of "function Add(a, b: Integer): Integer" as the evaluator makes it: arguments into
// the frame's slots, ReadCall, result.
template <class MakeHandler> void RunCall(benchmark::State& state, MakeHandler make) {
    TfsScript types;
    DeclareTypes(types);
    TfsScript s;
    s.Parent = &types;
    TfsMethodHelper* add = make(s);
    int32_t k = 0;
    for (auto _ : state) {
        TfsArgSlots slots(2);
        Variant* v = slots.Data();
        v[0] = Variant(k);
        v[1] = Variant(int32_t(1));
        TfsCallFrame frame(add, v, 2);
        Variant r = add->ReadCall(frame);
        k = r.Raw().u.i32;
    }
    benchmark::DoNotOptimize(k);
}

void BM_CallHelperStyle(benchmark::State& state) {
    RunCall(state, [](TfsScript& s) {
        return s.DeclareMethod("function Add(a, b: Integer): Integer",
                               [](void*, TfsClassRef, std::string_view, TfsCallFrame& c) {
                                   return Variant(c.Param(0).Raw().u.i32 + c.Param(1).Raw().u.i32);
                               });
    });
}
BENCHMARK(BM_CallHelperStyle);

void BM_CallArrayStyle(benchmark::State& state) {
    RunCall(state, [](TfsScript& s) {
        return s.DeclareMethod("function Add(a, b: Integer): Integer",
                               [](void*, TfsClassRef, std::string_view, Variant& p) {
                                   const PtArray* a = p.Raw().u.arr;
                                   return Variant(a->items[0].u.i32 + a->items[1].u.i32);
                               });
    });
}
BENCHMARK(BM_CallArrayStyle);

void BM_CallArrayStyleVarParam(benchmark::State& state) {
    RunCall(state, [](TfsScript& s) {
        return s.DeclareMethod("function Add(var a: Integer; b: Integer): Integer",
                               [](void*, TfsClassRef, std::string_view, Variant& p) {
                                   PtArray* a = p.Raw().u.arr;
                                   a->items[0].u.i32 += a->items[1].u.i32;
                                   return Variant(a->items[0].u.i32);
                               });
    });
}
BENCHMARK(BM_CallArrayStyleVarParam);

// Two threads calling the same array-style function: the argument-array cache is contended.
void BM_CallArrayStyleTwoThreads(benchmark::State& state) {
    static TfsScript* types = nullptr;
    static TfsScript* s = nullptr;
    static TfsMethodHelper* add = nullptr;
    if (state.thread_index() == 0) {
        types = new TfsScript;
        DeclareTypes(*types);
        s = new TfsScript;
        s->Parent = types;
        s->SharedAcrossThreads = true;
        add = s->DeclareMethod("function Add(a, b: Integer): Integer",
                               [](void*, TfsClassRef, std::string_view, Variant& p) {
                                   const PtArray* a = p.Raw().u.arr;
                                   return Variant(a->items[0].u.i32 + a->items[1].u.i32);
                               });
    }
    int32_t k = 0;
    for (auto _ : state) {
        TfsArgSlots slots(2);
        Variant* v = slots.Data();
        v[0] = Variant(k);
        v[1] = Variant(int32_t(1));
        TfsCallFrame frame(add, v, 2);
        k = add->ReadCall(frame).Raw().u.i32;
    }
    benchmark::DoNotOptimize(k);
    if (state.thread_index() == 0) {
        delete s;
        delete types;
    }
}
BENCHMARK(BM_CallArrayStyleTwoThreads)->Threads(2)->UseRealTime();

} // namespace
} // namespace pt
