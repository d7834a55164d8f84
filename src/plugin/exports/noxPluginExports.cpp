// The twelve exports of libpipetask.so: the only symbols the library makes visible. Each
// forwards to pt::entry, which never lets an exception out.
#include <pipetask/pipetask.h>

#include "plugin/noxPluginEntry.h"

#define PT_EXPORT extern "C" __attribute__((visibility("default")))

PT_EXPORT uint32_t PT_STDCALL GetPluginIntfVersion(void) {
    return pt::entry::GetPluginIntfVersion();
}
PT_EXPORT float PT_STDCALL GetAppMinVersion(PPluginCallRec rec) {
    return pt::entry::GetAppMinVersion(rec);
}
PT_EXPORT const char* PT_STDCALL GetModuleDescription(PPluginCallRec rec) {
    return pt::entry::GetModuleDescription(rec);
}
PT_EXPORT int32_t PT_STDCALL GetModuleType(PPluginCallRec rec) {
    return pt::entry::GetModuleType(rec);
}
PT_EXPORT int32_t PT_STDCALL MultiThreadSupport(PPluginCallRec rec) {
    return pt::entry::MultiThreadSupport(rec);
}
PT_EXPORT int32_t PT_STDCALL GetCustomCommands(PPluginCallRec rec) {
    return pt::entry::GetCustomCommands(rec);
}
PT_EXPORT int32_t PT_STDCALL ExecutePluginCommand(PPluginCallRec rec) {
    return pt::entry::ExecutePluginCommand(rec);
}
PT_EXPORT void PT_STDCALL ShowOptionsDialog(PPluginCallRec rec) {
    pt::entry::ShowOptionsDialog(rec);
}
PT_EXPORT int32_t PT_STDCALL GetLogEx(PPluginCallRec rec) {
    return pt::entry::GetLogEx(rec);
}
PT_EXPORT int32_t PT_STDCALL GetData(PPluginCallRec rec) {
    return pt::entry::GetData(rec);
}
PT_EXPORT int32_t PT_STDCALL GetEvents(PPluginCallRec rec) {
    return pt::entry::GetEvents(rec);
}
PT_EXPORT int32_t PT_STDCALL ProcessData(PPluginCallRec rec) {
    return pt::entry::ProcessData(rec);
}
