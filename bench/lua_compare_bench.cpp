// The peer: the same workloads as script_bench.cpp run by Lua 5.4 through its C API.
#include <benchmark/benchmark.h>

#include "script_workloads.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include <string>

namespace {

struct Lua {
    lua_State* L = luaL_newstate();
    Lua() { luaL_openlibs(L); }
    ~Lua() { lua_close(L); }
};

void RunLua(benchmark::State& state, const char* text) {
    Lua lua;
    if (luaL_loadstring(lua.L, text) != LUA_OK) {
        state.SkipWithError(lua_tostring(lua.L, -1));
        return;
    }
    const int chunk = luaL_ref(lua.L, LUA_REGISTRYINDEX);
    for (auto _ : state) {
        lua_rawgeti(lua.L, LUA_REGISTRYINDEX, chunk);
        if (lua_pcall(lua.L, 0, 0, 0) != LUA_OK) {
            state.SkipWithError(lua_tostring(lua.L, -1));
            return;
        }
    }
}

void BM_Lua_Fib24(benchmark::State& state) {
    RunLua(state, pt::bench::kFibLua);
}
BENCHMARK(BM_Lua_Fib24)->Unit(benchmark::kMillisecond);

void BM_Lua_LoopSumSquares1M(benchmark::State& state) {
    RunLua(state, pt::bench::kLoopLua);
}
BENCHMARK(BM_Lua_LoopSumSquares1M)->Unit(benchmark::kMillisecond);

void BM_Lua_BuildString10k(benchmark::State& state) {
    RunLua(state, pt::bench::kStringLua);
}
BENCHMARK(BM_Lua_BuildString10k)->Unit(benchmark::kMicrosecond);

void BM_Lua_Compile1000Lines(benchmark::State& state) {
    const std::string text = pt::bench::ThousandLineLua();
    Lua lua;
    for (auto _ : state) {
        if (luaL_loadstring(lua.L, text.c_str()) != LUA_OK) {
            state.SkipWithError(lua_tostring(lua.L, -1));
            return;
        }
        lua_pop(lua.L, 1);
    }
}
BENCHMARK(BM_Lua_Compile1000Lines)->Unit(benchmark::kMillisecond);

} // namespace
