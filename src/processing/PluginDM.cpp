#include "processing/PluginDM.h"

#include "plugin/noxPluginRegistry.h"
#include "script/runtime/fs_format.h"
#include "settings/MsgArray.h"

#include <stdexcept>

namespace pt {

// ---- script-running state --------------------------------------------------------------------

namespace {

// The process-wide count of threads inside a script, and each thread's nesting depth. The
// count changes only when a thread's depth goes from 0 to 1 or back (or the crash reporter
// claims the thread's fault), so it never goes below zero.
std::atomic<int32_t> g_scriptThreads{0};
thread_local int32_t t_scriptDepth = 0;

} // namespace

TScriptRunningScope::TScriptRunningScope() noexcept {
    if (t_scriptDepth++ == 0) g_scriptThreads.fetch_add(1);
}

TScriptRunningScope::~TScriptRunningScope() {
    // Depth 0 here: the crash reporter claimed a fault meanwhile and already cleared it.
    if (t_scriptDepth > 0 && --t_scriptDepth == 0) g_scriptThreads.fetch_sub(1);
}

bool ScriptRunning() noexcept {
    return g_scriptThreads.load() > 0;
}

bool ScriptRunningOnThisThread() noexcept {
    return t_scriptDepth > 0;
}

bool ClaimScriptFault() noexcept {
    if (t_scriptDepth == 0) return false;
    t_scriptDepth = 0;
    g_scriptThreads.fetch_sub(1);
    return true;
}

// ---- host functions --------------------------------------------------------------------------

constinit const std::array<std::string_view, 16> HostFunctionPrototypes = {
    "procedure SetVariable(Name: String; Value: Variant)",
    "function GetVariable(Name: String):Variant",
    "procedure PushVariable(Name: String; Value: Variant)",
    "function PopVariable(Name: String):Variant",
    "procedure DeleteVariable(Name: String)",
    "procedure DiscardDataPacket",
    "procedure DbgLog(Msg: String)",
    "function IsVariableDefined(Name: String):boolean",
    "function IsVariableStored(Name: String):boolean",
    "function SendData(Data: String):boolean",
    "function SendString(Data: String):boolean",
    "function SendByte(Data: Byte):boolean",
    "procedure SendEvent(Name: String; Args: array of const)",
    "function GetVariableCount:integer",
    "function GetVariableByIndex(AIndex: integer):Variant",
    "function GetVariableNameByIndex(AIndex: integer):string",
};

std::string_view LanguageOfIndex(int32_t index) noexcept {
    switch (index) {
    case 1:
        return "C++Script";
    case 2:
        return "JScript";
    case 3:
        return "BasicScript";
    default:
        return "PascalScript";
    }
}

namespace {

const Variant& Arg(const Variant& params, int32_t i) {
    if (!params.IsArray()) throw std::invalid_argument("missing argument");
    return params[i];
}

// A list of this side, destroyed at scope end.
using TOwnedList = std::unique_ptr<TnoxParamsList, TnoxParamsListDeleter>;

} // namespace

void TaPlugin::RegisterHostFunctions(TfsScript& script) {
    TfsParamsCallEvent handler = [this](TObject*, TfsClassRef, std::string_view name,
                                        Variant& params) { return CallHostFunction(name, params); };
    for (std::string_view proto : HostFunctionPrototypes) script.DeclareMethod(proto, handler);
}

Variant TaPlugin::CallHostFunction(std::string_view name, Variant& params) noexcept {
    try {
        TnoxParamsList* row = CurrentRow;
        TnoxParamsList* stored = StoredValues;
        auto need = [](TnoxParamsList* list) -> TnoxParamsList& {
            if (!list) throw std::logic_error("the module is not loaded");
            return *list;
        };
        auto name0 = [&] { return Arg(params, 0).ToStr(); };
        const uint32_t source = CurrentRec ? CurrentRec->SourceTag : 0;

        if (name == "SETVARIABLE") {
            need(row).SetValue(name0(), Arg(params, 1), true);
        } else if (name == "GETVARIABLE") {
            return need(row).GetValue(name0());
        } else if (name == "PUSHVARIABLE") {
            need(stored).SetValue(name0(), Arg(params, 1), true);
        } else if (name == "POPVARIABLE") {
            return need(stored).GetValue(name0());
        } else if (name == "DELETEVARIABLE") {
            TnoxParamsList& r = need(row);
            const int32_t i = r.IndexOf(name0());
            if (i >= 0) r.Delete(i);
        } else if (name == "DISCARDDATAPACKET") {
            DiscardRow = true;
        } else if (name == "DBGLOG") {
            WriteLog(PT_LOG_INFO, Arg(params, 0).ToStrLoose());
        } else if (name == "ISVARIABLEDEFINED") {
            return Variant(need(row).IndexOf(name0()) >= 0);
        } else if (name == "ISVARIABLESTORED") {
            return Variant(need(stored).IndexOf(name0()) >= 0);
        } else if (name == "SENDDATA") {
            const std::string data = Arg(params, 0).ToStrLoose();
            if (data.empty()) return Variant();
            TfSendData fn = SendDataFn();
            if (!fn) return Variant();
            return Variant(
                fn(HostTag.load(), 0, source, data.data(), static_cast<int32_t>(data.size())));
        } else if (name == "SENDSTRING") {
            const std::string data = Arg(params, 0).ToStrLoose();
            TfSendString fn = SendStringFn();
            if (!fn) return Variant();
            return Variant(fn(HostTag.load(), 0, source, data.empty() ? nullptr : data.c_str()));
        } else if (name == "SENDBYTE") {
            const uint32_t byte = static_cast<uint32_t>(Arg(params, 0).ToInt64() & 0xFF);
            TfSendByte fn = SendByteFn();
            if (!fn) return Variant();
            return Variant(fn(HostTag.load(), 0, source, byte));
        } else if (name == "SENDEVENT") {
            const std::string type = name0();
            const Variant& args = Arg(params, 1);
            TOwnedList values(TnoxParamsList::Create());
            if (args.IsArray() && args.ArrayDims() == 1) {
                const int32_t low = args.ArrayLow(), high = args.ArrayHigh();
                for (int32_t k = low; k < high; k += 2)
                    values->Add(VarDeref(args[k]).ToStrLoose(), VarDeref(args[k + 1]));
            }
            PostEvent(false, type, values.get());
        } else if (name == "GETVARIABLECOUNT") {
            return Variant(need(row).GetCount());
        } else if (name == "GETVARIABLEBYINDEX" || name == "GETVARIABLENAMEBYINDEX") {
            TnoxParamsList& r = need(row);
            const int32_t i = Arg(params, 0).ToInt();
            if (i < 0 || i >= r.GetCount()) return Variant::Null();
            const TnoxParamsListItem* it = r.ItemAt(i);
            if (name == "GETVARIABLEBYINDEX") return it->Value();
            return Variant(it->Name());
        }
    } catch (...) {
        // Dropped: the script goes on; a result not yet set stays as handed in.
    }
    return Variant();
}

// ---- the module object -----------------------------------------------------------------------

constinit const TClassInfo TaPlugin::ClassInfo{"TaPlugin", &TnoxPlugin::ClassInfo, {}};

std::shared_ptr<TnoxPlugin> CreateTaPlugin() {
    return std::make_shared<TaPlugin>();
}

namespace {
// The class the registry instantiates, set when the library starts.
struct RegisterTaPlugin {
    RegisterTaPlugin() { SetPluginClass(&CreateTaPlugin); }
} g_registerTaPlugin;
} // namespace

TaPlugin::TaPlugin() : fsScript1(std::make_unique<TfsScript>()) {
    FillSettingsEntryList(Properties);
    maData = new TMsgArray(this);
    maData->SetName("maData");
    TStringList& records = maData->MessagesArray();
    records.BeginUpdate();
    for (std::string_view r : PluginMessageRecords) records.Add(std::string(r));
    records.EndUpdate();
    if (TnoxModuleTranslator* t = Translator()) {
        t->ComponentProperties.push_back("MessagesText");
        // The base translated before the message table existed.
        if (!t->LanguageFile.empty())
            IgnoringExceptions([&] { t->Translate(Language(), *this, "EN"); });
    }

    OnLoad = [this](TnoxPlugin&, PPluginCallRec rec, int32_t& result) { DoLoad(rec, result); };
    OnUnload = [this](TnoxPlugin&, PPluginCallRec, int32_t&) { DoUnload(); };
    OnSaveSettingsNow = [this](TnoxPlugin&) { SaveSettings(); };
    OnLoadSettingsNow = [this](TnoxPlugin&) {
        if (Config) Reload(Config);
    };
    OnProcessData = [this](TnoxPlugin&, PPluginCallRec rec, int32_t& result) {
        Process(rec, result);
    };
}

TaPlugin::~TaPlugin() {
    fsScript1.reset();
    TnoxParamsList::Destroy(CurrentRow);
    TnoxParamsList::Destroy(StoredValues);
    CurrentRow = StoredValues = nullptr;
}

// ---- configuration ---------------------------------------------------------------------------

void TaPlugin::SyncSettings() {
    settings_.RegistryRoot = RegistryRoot;
    settings_.SecondRegistryRoot = SecondRegistryRoot;
    settings_.RegistryPath = RegistryPath();
    settings_.INIFile = INIFile();
    settings_.INISectionPrefix = INISectionPrefix();
    settings_.OnSetPropertyValue = OnSetPropertyValue;
    settings_.OnGetPropertyValue = OnGetPropertyValue;
    settings_.OnBeforeProcessSettingsItem = OnBeforeProcessSettingsItem;
}

bool TaPlugin::SettingsOperation(TSettingsKind kind, const TStrings& entries, TPersistent* root,
                                 std::string_view iniFile) {
    std::lock_guard<std::mutex> g(settingsLock_);
    struct Busy {
        std::atomic<bool>& flag;
        explicit Busy(std::atomic<bool>& f) : flag(f) { flag.store(true); }
        ~Busy() { flag.store(false); }
    } busy(SettingsBusy);
    SyncSettings();
    return settings_.SettingsOperation(kind, entries, root, iniFile);
}

TDataSourceCfg* TaPlugin::NewConfiguration() {
    return new TDataSourceCfg(this, settings_);
}

void TaPlugin::Reload(TDataSourceCfg* c, bool replace) {
    std::unique_lock<std::shared_mutex> lock(ProcessingLock);
    Prepared = false;
    Compiled = false;
    if (StoredValues) StoredValues->Clear();
    {
        std::lock_guard<std::mutex> g(settingsLock_);
        struct Busy {
            std::atomic<bool>& flag;
            explicit Busy(std::atomic<bool>& f) : flag(f) { flag.store(true); }
            ~Busy() { flag.store(false); }
        } busy(SettingsBusy);
        SyncSettings();
        c->Load();
    }
    if (replace && c != Config) {
        delete Config;
        Config = c;
    }
}

bool TaPlugin::InstallNewConfiguration() {
    {
        std::shared_lock<std::shared_mutex> lock(ProcessingLock);
        if (!Config || !StoredValues) return false;
    }
    std::unique_ptr<TDataSourceCfg> c(NewConfiguration());
    Reload(c.get(), true);
    c.release(); // now Config
    return true;
}

void TaPlugin::SaveSettings() {
    std::shared_lock<std::shared_mutex> lock(ProcessingLock);
    if (!Config) return;
    std::lock_guard<std::mutex> g(settingsLock_);
    struct Busy {
        std::atomic<bool>& flag;
        explicit Busy(std::atomic<bool>& f) : flag(f) { flag.store(true); }
        ~Busy() { flag.store(false); }
    } busy(SettingsBusy);
    SyncSettings();
    Config->Save();
}

void TaPlugin::DoLoad(PPluginCallRec, int32_t&) {
    std::unique_ptr<TDataSourceCfg> c(NewConfiguration());
    {
        std::unique_lock<std::shared_mutex> lock(ProcessingLock);
        if (!CurrentRow) CurrentRow = TnoxParamsList::Create();
        if (!StoredValues) StoredValues = TnoxParamsList::Create();
        delete Config;
        Config = c.release();
        DiscardRow = false;
    }
    Reload(Config);
}

void TaPlugin::DoUnload() {
    std::unique_lock<std::shared_mutex> lock(ProcessingLock);
    delete Config;
    Config = nullptr;
    TnoxParamsList::Destroy(CurrentRow);
    TnoxParamsList::Destroy(StoredValues);
    CurrentRow = StoredValues = nullptr;
    Prepared = Compiled = false;
    // The compiled program holds the host functions, which refer to the lists just freed.
    fsScript1->Reset();
}

// ---- packets ---------------------------------------------------------------------------------

std::string TaPlugin::Message(std::string_view id, std::string_view a, std::string_view b,
                              int args) const {
    const std::string text = maData->MessageText(id);
    if (args == 0) return text;
    std::vector<TFormatArg> fa(static_cast<size_t>(args));
    fa[0].kind = TFormatArg::faString;
    fa[0].s = a;
    if (args > 1) {
        fa[1].kind = TFormatArg::faString;
        fa[1].s = b;
    }
    try {
        return Format(text, fa);
    } catch (...) {
        // A translated text whose placeholders do not fit: say it all the same.
        std::string s = text + " (" + std::string(a);
        if (args > 1) s += ", " + std::string(b);
        return s + ")";
    }
}

void TaPlugin::Prepare() {
    TfsScript& script = *fsScript1;
    std::string failure;
    bool ok = false;
    try {
        script.Reset();
        const TStringList& lines = Config->edtExpr_Lines();
        script.Lines.clear();
        script.Lines.reserve(static_cast<size_t>(lines.Count()));
        for (int i = 0; i < lines.Count(); ++i) script.Lines.push_back(lines[i]);
        script.SyntaxType = LanguageOfIndex(Config->comboType_ItemIndex);
        script.Parent = GlobalUnit();
        if (!script.Parent) throw std::runtime_error("The script engine is shutting down");
        RegisterHostFunctions(script);
        Prepared = true;
        TScriptRunningScope running;
        ok = script.Compile();
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "Unknown error";
    }
    // Whatever happened, this configuration has had its one compile.
    Prepared = true;
    Compiled = ok;
    if (ok) {
        WriteLog(PT_LOG_INFO, Message("MsgCompile", script.SyntaxType, {}, 1));
    } else if (!failure.empty()) {
        WriteLog(PT_LOG_ERROR, failure);
    } else {
        WriteLog(PT_LOG_ERROR, script.ErrorUnitName.empty()
                                   ? script.ErrorText
                                   : script.ErrorUnitName + ": " + script.ErrorText);
    }
}

void TaPlugin::Process(PPluginCallRec rec, int32_t& result) {
    result = PT_RESULT_OK;
    if (!rec->Buffer) return;
    // A packet before the first "LOAD" (or after an "UNLOAD" that raced it) is not processed
    // and counts as failed.
    if (!Config || !CurrentRow || !StoredValues) throw std::logic_error("The module is not loaded");
    if (Config->comboType_ItemIndex < 0) return;
    if (!Prepared) Prepare();
    if (!Compiled) {
        // Not processed: no rows of an earlier packet may be published as this one's.
        if (TnoxParamsList* output = OutputRows()) output->Clear();
        result = PT_RESULT_COMPILE_ERROR;
        return;
    }
    const TnoxParamsList* input = TnoxParamsList::Checked(static_cast<PtParamsList*>(rec->Buffer));
    TnoxParamsList* output = OutputRows();
    if (output) output->Clear();
    TScriptRunningScope running;
    CurrentRec = rec;
    try {
        RunRows(*input, output);
    } catch (const std::exception& e) {
        WriteLog(PT_LOG_ERROR, Message("MsgExecErr", fsScript1->SyntaxType, e.what(), 2));
    } catch (...) {
        WriteLog(PT_LOG_ERROR, Message("MsgExecErr", fsScript1->SyntaxType, "Unknown error", 2));
    }
    CurrentRec = nullptr;
}

void TaPlugin::RunRows(const TnoxParamsList& input, TnoxParamsList* output) {
    const int32_t count = input.GetCount();
    int32_t i = 0;
    while (i < count) {
        CurrentRow->Clear();
        for (; i < count; ++i) {
            const TnoxParamsListItem* it = input.ItemAt(i);
            if (!it) continue;
            if (it->IsNewRow()) {
                ++i;
                break;
            }
            CurrentRow->AddItemCopy(it);
        }
        // An empty row (two markers in a row, a leading marker) carries nothing to run the
        // script on; the rows after it are still processed.
        if (CurrentRow->Empty()) continue;
        DiscardRow = false;
        fsScript1->Execute();
        if (DiscardRow)
            WriteLog(PT_LOG_INFO, Message("MsgDiscard"));
        else if (output)
            output->AddRow(CurrentRow);
    }
}

} // namespace pt
