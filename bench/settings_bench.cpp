// The settings store: saving and loading the module's configuration (seven entries) to an INI
// file and to the registry, and encoding a script text. Settings are written on commands and
// dialog closes, not per packet; these figures show what one such operation costs, fsync
// included.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "processing/CfgOptionsProxy.h"

namespace {

struct Folder {
    Folder() {
        char tmpl[] = "/tmp/pt_bench_XXXXXX";
        path = mkdtemp(tmpl);
        setenv("PIPETASK_REGISTRY_HKLM", (path + "/hklm").c_str(), 1);
        setenv("PIPETASK_REGISTRY_HKCU", (path + "/hkcu").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", path.c_str(), 1);
        std::filesystem::create_directories(path + "/hklm");
    }
    ~Folder() { std::filesystem::remove_all(path); }
    std::string path;
};

std::string Script() {
    std::string s;
    for (int i = 0; i < 200; ++i)
        s += "  SetValue('x" + std::to_string(i) + "', GetValue('y') + 1);\r\n";
    return s;
}

void Run(benchmark::State& state, bool ini, bool save) {
    Folder folder;
    pt::TModuleSettings settings;
    settings.RegistryPath = "\\Software\\Pipetask\\Bench";
    if (ini) settings.INIFile = folder.path + "/bench.ini";
    pt::TDataSourceCfg cfg(nullptr, settings);
    cfg.edtExpr_Lines().SetText(Script());
    cfg.Save();
    for (auto _ : state) {
        if (save) ++cfg.Top; // a real change: every save rewrites
        benchmark::DoNotOptimize(save ? cfg.Save() : cfg.Load());
    }
}

void BM_SettingsIniSave(benchmark::State& s) {
    Run(s, true, true);
}
void BM_SettingsIniLoad(benchmark::State& s) {
    Run(s, true, false);
}
void BM_SettingsRegistrySave(benchmark::State& s) {
    Run(s, false, true);
}
void BM_SettingsRegistryLoad(benchmark::State& s) {
    Run(s, false, false);
}
BENCHMARK(BM_SettingsIniSave)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SettingsIniLoad)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SettingsRegistrySave)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SettingsRegistryLoad)->Unit(benchmark::kMicrosecond);

void BM_StoredTextRoundTrip(benchmark::State& state) {
    std::string script = Script();
    for (auto _ : state)
        benchmark::DoNotOptimize(pt::DecodeStoredText(pt::EncodeStoredText(script)));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(script.size()));
}
BENCHMARK(BM_StoredTextRoundTrip);

} // namespace
