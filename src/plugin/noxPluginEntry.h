// What the twelve exports do. The exports in src/plugin/exports/ only forward here, so that
// the same code is reachable from the unit tests. Every function is noexcept: no exception
// leaves the module.
#pragma once

#include <pipetask/pipetask.h>

#include <string>

namespace pt::entry {

uint32_t GetPluginIntfVersion() noexcept;
float GetAppMinVersion(PPluginCallRec rec) noexcept;
const char* GetModuleDescription(PPluginCallRec rec) noexcept;
int32_t GetModuleType(PPluginCallRec rec) noexcept;
int32_t MultiThreadSupport(PPluginCallRec rec) noexcept;
int32_t GetCustomCommands(PPluginCallRec rec) noexcept;
int32_t ExecutePluginCommand(PPluginCallRec rec) noexcept;
void ShowOptionsDialog(PPluginCallRec rec) noexcept;
int32_t GetLogEx(PPluginCallRec rec) noexcept;
int32_t GetData(PPluginCallRec rec) noexcept;
int32_t GetEvents(PPluginCallRec rec) noexcept;
int32_t ProcessData(PPluginCallRec rec) noexcept;

// The record check of the commanding and data exports.
bool RecordValid(const TPluginCallRec* rec) noexcept;
// The text buffer protocol: ResultValue := length; copies and answers the length when the
// text is not empty and fits, else answers 0.
int32_t PutTextResult(PPluginCallRec rec, const std::string& text) noexcept;

// The data guard's wait: poll interval and limit (milliseconds).
inline constexpr int kGuardPollMs = 50;
inline constexpr int kGuardWaitMs = 30000;

} // namespace pt::entry
