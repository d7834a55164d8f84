#include "plugin/noxPluginEntry.h"

#include "platform/CrashReporter.h"
#include "plugin/noxPluginModule.h"
#include "plugin/noxPluginRegistry.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace pt::entry {

namespace {

std::shared_ptr<TnoxPlugin> Lookup(const TPluginCallRec* rec) noexcept {
    if (!rec) return nullptr;
    TnoxPluginRegistry* registry = PluginRegistry();
    return registry ? registry->Lookup(rec) : nullptr;
}

// The data guard around GetData, GetEvents and ProcessData.
template <class Path>
int32_t GuardedDataCall(PPluginCallRec rec, bool isPacket, bool resetResult, Path path) noexcept {
    try {
        if (!RecordValid(rec)) return PT_RESULT_REFUSED;
        std::shared_ptr<TnoxPlugin> obj = Lookup(rec);
        if (!obj) return PT_RESULT_REFUSED;
        for (int waited = 0; obj->Busy.load() > 0 && obj->Unloaded.load(); waited += kGuardPollMs) {
            if (waited >= kGuardWaitMs || !PluginRegistry()) return PT_RESULT_REFUSED;
            std::this_thread::sleep_for(std::chrono::milliseconds(kGuardPollMs));
        }
        if (obj->Unloaded.load()) return PT_RESULT_REFUSED;
        if (isPacket && !PluginRegistry()) return PT_RESULT_REFUSED;
        struct BusyScope {
            std::atomic<int32_t>& busy;
            explicit BusyScope(std::atomic<int32_t>& b) : busy(b) { busy.fetch_add(1); }
            ~BusyScope() { busy.fetch_sub(1); }
        } busy(obj->Busy);
        if (resetResult) rec->ResultValue = 0;
        try {
            return path(*obj);
        } catch (...) {
            return PT_RESULT_EXCEPTION;
        }
    } catch (...) {
        return PT_RESULT_EXCEPTION;
    }
}

} // namespace

bool RecordValid(const TPluginCallRec* rec) noexcept {
    return rec && rec->Signature == PT_CALL_SIGNATURE &&
           (rec->Params != nullptr || rec->ReleaseFlag == PT_RELEASE_FLAG);
}

int32_t PutTextResult(PPluginCallRec rec, const std::string& text) noexcept {
    rec->ResultValue = static_cast<intptr_t>(text.size());
    const int32_t size = rec->BufferSize;
    if (text.empty() || size < 0 || text.size() > static_cast<size_t>(size) || !rec->Buffer)
        return 0;
    std::memcpy(rec->Buffer, text.data(), text.size());
    return static_cast<int32_t>(text.size());
}

uint32_t GetPluginIntfVersion() noexcept {
    return PT_INTF_VERSION_MAJOR | (PT_INTF_VERSION_MINOR << 16);
}

float GetAppMinVersion(PPluginCallRec rec) noexcept {
    std::shared_ptr<TnoxPlugin> obj = Lookup(rec);
    return obj ? obj->MinVersion : -1.0f;
}

const char* GetModuleDescription(PPluginCallRec rec) noexcept {
    std::shared_ptr<TnoxPlugin> obj = Lookup(rec);
    return obj ? obj->Description.c_str() : nullptr;
}

int32_t GetModuleType(PPluginCallRec rec) noexcept {
    std::shared_ptr<TnoxPlugin> obj = Lookup(rec);
    if (!obj) return 0;
    return static_cast<int32_t>(obj->ModuleType) | (static_cast<int32_t>(obj->ModuleOptions) << 16);
}

int32_t MultiThreadSupport(PPluginCallRec rec) noexcept {
    std::shared_ptr<TnoxPlugin> obj = Lookup(rec);
    return obj && obj->IsMultiThreadSupported ? 1 : 0;
}

int32_t GetCustomCommands(PPluginCallRec rec) noexcept {
    if (!rec) return 0;
    try {
        rec->ResultValue = 0;
        rec->ResultKind = PT_RESULTKIND_NUMBER;
        std::shared_ptr<TnoxPlugin> obj = Lookup(rec);
        if (!obj) return 0;
        return PutTextResult(rec, obj->CustomCommandsText());
    } catch (...) {
        return 0;
    }
}

int32_t ExecutePluginCommand(PPluginCallRec rec) noexcept {
    try {
        if (!RecordValid(rec)) return PT_RESULT_REFUSED;
        std::shared_ptr<TnoxPlugin> obj = Lookup(rec);
        if (!obj) return PT_RESULT_REFUSED;
        const TnoxParamsList* params = TnoxParamsList::Of(rec->Params);
        if (params->Magic != PT_LIST_MAGIC) throw ENoxListError("Invalid call parameters");
        const TnoxParamsListItem* command = params->FindItem("COMMAND");
        if (!command || command->Value().IsEmpty() || command->Value().IsNull())
            return PT_RESULT_REFUSED;
        const std::string text = BoundaryText(command->Value().Raw());
        try {
            return obj->ExecuteCommand(text, rec);
        } catch (...) {
            ReportCurrentException();
            std::string description = CurrentExceptionDescription();
            if (!description.empty()) obj->QueueLog(PT_LOG_ERROR, description);
            return PT_RESULT_EXCEPTION;
        }
    } catch (...) {
        return PT_RESULT_EXCEPTION;
    }
}

void ShowOptionsDialog(PPluginCallRec rec) noexcept {
    if (!rec) return;
    try {
        rec->ResultKind = PT_RESULTKIND_NUMBER;
        rec->ResultSize = 4;
        rec->ResultValue = 2;
        std::shared_ptr<TnoxPlugin> obj = Lookup(rec);
        if (!obj) return;
        obj->ShowOptions(rec);
    } catch (...) {
    }
}

int32_t GetLogEx(PPluginCallRec rec) noexcept {
    if (!rec) return 0;
    try {
        rec->ResultValue = 0;
        rec->ResultKind = PT_RESULTKIND_NUMBER;
        std::shared_ptr<TnoxPlugin> obj = Lookup(rec);
        if (!obj) return 0;
        return obj->HandOutLog(rec);
    } catch (...) {
        return 0;
    }
}

int32_t GetData(PPluginCallRec rec) noexcept {
    return GuardedDataCall(rec, false, true,
                           [rec](TnoxPlugin& obj) { return obj.SupplyData(rec); });
}

int32_t GetEvents(PPluginCallRec rec) noexcept {
    return GuardedDataCall(rec, false, false,
                           [rec](TnoxPlugin& obj) { return obj.HandOverEvents(rec); });
}

int32_t ProcessData(PPluginCallRec rec) noexcept {
    return GuardedDataCall(rec, true, true,
                           [rec](TnoxPlugin& obj) { return obj.ProcessPacket(rec); });
}

} // namespace pt::entry
