// Rows per second through ProcessData of the real libpipetask.so, loaded with dlopen: packets
// of 100 rows of 10 items, an empty script and a typical transform (three values read, two
// computed and set, a running value kept with PushVariable/PopVariable, a third of the rows
// discarded), on one module object and on two module objects in two threads. The module has
// no host window here, so its log lines (the discard messages) cost nothing.
// Usage: pipetask_processing_bench [libpipetask.so] [benchmark flags]
#include <benchmark/benchmark.h>

#include <pipetask/pipetask.h>

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

const char* g_path = PT_PLUGIN_PATH;
void* g_lib = nullptr;
TExecutePluginCommand g_command = nullptr;
TProcessData g_process = nullptr;
std::string g_dir;
std::atomic<uint32_t> g_nextId{1};

constexpr int kRows = 100;
constexpr int kItems = 10;

const char* kEmptyScript = "begin\nend.\n";
const char* kTransform = "var x, y, z: Double;\n"
                         "begin\n"
                         "  x := GetVariable('v0');\n"
                         "  y := GetVariable('v4');\n"
                         "  z := GetVariable('v9');\n"
                         "  SetVariable('sum', x + y + z);\n"
                         "  SetVariable('ratio', x / (y + 1));\n"
                         "  if IsVariableStored('acc') then\n"
                         "    PushVariable('acc', PopVariable('acc') + x)\n"
                         "  else\n"
                         "    PushVariable('acc', x);\n"
                         "  if Round(x) mod 3 = 0 then DiscardDataPacket;\n"
                         "end.\n";

bool Open() {
    if (g_lib) return true;
    g_lib = dlopen(g_path, RTLD_NOW | RTLD_LOCAL);
    if (!g_lib) return false;
    g_command = reinterpret_cast<TExecutePluginCommand>(dlsym(g_lib, "ExecutePluginCommand"));
    g_process = reinterpret_cast<TProcessData>(dlsym(g_lib, "ProcessData"));
    char tmpl[] = "/tmp/pt_bench_XXXXXX";
    g_dir = mkdtemp(tmpl);
    setenv("XDG_RUNTIME_DIR", g_dir.c_str(), 1);
    return g_command && g_process;
}

TPluginCallRec Rec(uint32_t id, PtParamsList* params) {
    TPluginCallRec r{};
    r.Signature = PT_CALL_SIGNATURE;
    r.InstanceId = id;
    r.Params = params;
    return r;
}

int32_t Command(uint32_t id, const char* command, PtParamsList* p) {
    PtValue v{};
    pt_value_set_text(&v, command, static_cast<uint32_t>(strlen(command)));
    pt_list_set_value(p, "COMMAND", 7, &v, 1);
    pt_value_clear(&v);
    TPluginCallRec r = Rec(id, p);
    return g_command(&r);
}

// A loaded module object running `script`; 0 when it could not be loaded.
uint32_t LoadModule(const char* script) {
    const uint32_t id = g_nextId++;
    std::string ini = g_dir + "/cfg" + std::to_string(id) + ".ini";
    std::string encoded;
    for (const char* s = script; *s; ++s)
        encoded += *s == '\n'  ? std::string("%0d%0a")
                   : *s == '+' ? std::string("%2b") // a stored '+' reads back as a blank
                               : std::string(1, *s);
    std::ofstream(ini, std::ios::binary)
        << "[B.Common]\r\nScript=" << encoded << "\r\nLanguage=0\r\n";
    PtParamsList* p = pt_list_new(&pt_host_list_class);
    pt_list_add_text(p, "INI-FILE", ini.c_str());
    pt_list_add_text(p, "INISectionPrefix", "B");
    int32_t r = Command(id, "LOAD", p);
    pt_list_free(p);
    return r == 0 ? id : 0;
}

void Release(uint32_t id) {
    PtParamsList* p = pt_list_new(&pt_host_list_class);
    Command(id, "UNLOAD", p);
    pt_list_free(p);
    TPluginCallRec r = Rec(id, nullptr);
    r.ReleaseFlag = PT_RELEASE_FLAG;
    g_command(&r);
}

PtParamsList* Packet() {
    PtParamsList* l = pt_list_new(&pt_host_rows_list_class);
    for (int row = 0; row < kRows; ++row) {
        for (int i = 0; i < kItems; ++i) {
            const std::string name = "v" + std::to_string(i);
            if (i % 2 == 0) {
                pt_list_add_int64(l, name.c_str(), row + i);
            } else {
                PtValue v{};
                pt_value_set_double(&v, row * 0.5 + i);
                pt_list_add(l, name.c_str(), static_cast<uint32_t>(name.size()), &v);
            }
        }
        pt_list_add_new_row(l);
    }
    return l;
}

void RunPackets(benchmark::State& state, const char* script) {
    if (!g_lib) {
        state.SkipWithError("cannot load the plug-in");
        return;
    }
    const uint32_t id = LoadModule(script);
    if (!id) {
        state.SkipWithError("LOAD failed");
        return;
    }
    PtParamsList* params = pt_list_new(&pt_host_list_class);
    PtParamsList* packet = Packet();
    TPluginCallRec r = Rec(id, params);
    r.CallTypes = PT_MT_BIT(mttFilter);
    r.DataKind = PT_DATAKIND_LIST;
    r.Buffer = packet;
    int32_t first = g_process(&r);
    if (first != 0) {
        state.SkipWithError(first == PT_RESULT_COMPILE_ERROR
                                ? "the script does not compile (no script runtime in this build?)"
                                : "ProcessData failed");
    } else {
        for (auto _ : state) {
            r.Buffer = packet;
            benchmark::DoNotOptimize(g_process(&r));
        }
        state.SetItemsProcessed(state.iterations() * kRows);
        state.counters["ns_per_row"] =
            benchmark::Counter(static_cast<double>(state.iterations()) * kRows * 1e-9,
                               benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    }
    pt_list_free(packet);
    pt_list_free(params);
    Release(id);
}

void BM_EmptyScript(benchmark::State& state) {
    RunPackets(state, kEmptyScript);
}
void BM_Transform(benchmark::State& state) {
    RunPackets(state, kTransform);
}

// One module object per thread: the rows of both threads together per second of wall time.
BENCHMARK(BM_EmptyScript)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Transform)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_EmptyScript)->Unit(benchmark::kMicrosecond)->UseRealTime()->Threads(2);
BENCHMARK(BM_Transform)->Unit(benchmark::kMicrosecond)->UseRealTime()->Threads(2);

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && argv[1][0] != '-') {
        g_path = argv[1];
        --argc;
        ++argv;
    }
    benchmark::Initialize(&argc, argv);
    if (!Open()) std::fprintf(stderr, "cannot load %s: %s\n", g_path, dlerror());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_lib) std::filesystem::remove_all(g_dir);
    return 0;
}
