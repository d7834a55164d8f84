// TaPlugin: this program's module object. It compiles the configured script once per
// configuration load and runs it on every row of every packet; the rows the script keeps go
// back to the host as the packet's result. Scripts reach the packet through sixteen host
// functions (RegisterHostFunctions) that share one handler (CallHostFunction).
//
// Locks (in the order they nest; the base's order continues):
//   CommandLock -> ProcessingLock -> settingsLock_ -> the settings store's named lock.
// OnProcessData runs with ProcessingLock held exclusively by the base (ProcessPacket), so the
// packet handler and the host functions it calls never take it. Reload takes it exclusively;
// saving the configuration takes it shared (it only reads Config).
//
// Invariants under ProcessingLock: Config, CurrentRow and StoredValues exist together (from
// "LOAD" to the last "UNLOAD"); Prepared is false after every Reload; Compiled implies
// Prepared; CurrentRec is set only while a row runs.
#pragma once

#include "common/Classes.h"
#include "common/noxParamLst.h"
#include "plugin/noxPluginModule.h"
#include "processing/CfgOptionsProxy.h"
#include "script/runtime/fs_iinterpreter.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace pt {

class TMsgArray;

// ---- process-wide script-running state (read by the crash reporter) --------------------------

// True while any module object of the process compiles or runs a script.
bool ScriptRunning() noexcept;
// True while the calling thread compiles or runs a script.
bool ScriptRunningOnThisThread() noexcept;
// For the crash reporter, on the faulting thread: when that thread runs a script, the fault is
// the script's; its flag is cleared and the answer is true (the fault counts as handled).
bool ClaimScriptFault() noexcept;

// Marks the calling thread as running a script for its lifetime. Nests; several threads (and
// module objects) may hold one at once.
class TScriptRunningScope {
public:
    TScriptRunningScope() noexcept;
    ~TScriptRunningScope();
    TScriptRunningScope(const TScriptRunningScope&) = delete;
    TScriptRunningScope& operator=(const TScriptRunningScope&) = delete;
};

// ---- the module object ------------------------------------------------------------------------

// The sixteen prototypes, in registration order.
extern const std::array<std::string_view, 16> HostFunctionPrototypes;

// The script language of a configuration's language index: 1 "C++Script", 2 "JScript",
// 3 "BasicScript", anything else "PascalScript".
std::string_view LanguageOfIndex(int32_t index) noexcept;

class TaPlugin : public TnoxPlugin {
    PT_PUBLISHED_CLASS;

public:
    TaPlugin();
    ~TaPlugin() override;

    // ---- components
    TStringList Properties;               // the settings entry list
    std::unique_ptr<TfsScript> fsScript1; // SyntaxType "PascalScript" until prepared
    TMsgArray* maData = nullptr;          // owned as a component of the module

    // ---- state (guarded by ProcessingLock; see the top of this file)
    TDataSourceCfg* Config = nullptr; // owned as a component of the module
    bool Prepared = false;
    bool Compiled = false;
    PPluginCallRec CurrentRec = nullptr;
    TnoxParamsList* CurrentRow = nullptr;
    TnoxParamsList* StoredValues = nullptr;
    bool DiscardRow = false;

    // Registers the host functions into `script` (this module handles them). The options
    // dialog uses it too, before its syntax check.
    void RegisterHostFunctions(TfsScript& script);
    // The one handler of the host functions, by upper-cased name. params is the argument
    // array (Empty for functions without parameters). Never throws: a failure leaves the
    // result Empty, as the engine handed it in.
    Variant CallHostFunction(std::string_view name, Variant& params) noexcept;

    // Loads `c` from the settings store under ProcessingLock: not prepared, not compiled,
    // stored values emptied. With `replace`, c becomes Config and the old one is destroyed,
    // under the same lock.
    void Reload(TDataSourceCfg* c, bool replace = false);
    // The accepted options dialog: a freshly loaded configuration replaces Config. False
    // (nothing installed) when the module was never loaded.
    bool InstallNewConfiguration();
    // The settings operation of the module over `root` (the dialog uses it for its controls).
    bool SettingsOperation(TSettingsKind kind, const TStrings& entries, TPersistent* root,
                           std::string_view iniFile = {});
    // A new configuration object bound to this module's settings (not loaded).
    TDataSourceCfg* NewConfiguration();

private:
    void DoLoad(PPluginCallRec rec, int32_t& result);
    void DoUnload();
    void SaveSettings();
    void Process(PPluginCallRec rec, int32_t& result);
    void Prepare();
    void RunRows(const TnoxParamsList& input, TnoxParamsList* output);
    std::string Message(std::string_view id, std::string_view a = {}, std::string_view b = {},
                        int args = 0) const;
    void SyncSettings();

    std::mutex settingsLock_;
    TModuleSettings settings_; // guarded by settingsLock_
};

// The registry's class reference for TaPlugin.
std::shared_ptr<TnoxPlugin> CreateTaPlugin();

} // namespace pt
