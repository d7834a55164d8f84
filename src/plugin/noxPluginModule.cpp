#include "plugin/noxPluginModule.h"

#include "platform/ModuleInfo.h"
#include "platform/NoxMessageWindow.h"
#include "plugin/noxPluginRegistry.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace pt {

namespace {

std::atomic<TTranslatorFactory> g_translatorFactory{nullptr};
// Loaded module objects that supplied a host module handle. The application icon that the
// original takes from the first such host has no Linux counterpart; the count is kept so
// that a platform with icons can hook in where it changes from and to zero.
std::atomic<int32_t> g_hostModuleCount{0};

constexpr int32_t kEventItemLimit = 20000;
constexpr size_t kPendingLogLimit = 100;
constexpr uint32_t kSendTimeoutMs = 1000;

// A parameter's presence and text. Absent: false and "" (a missing parameter is never an
// error by itself).
bool ParamText(const TnoxParamsList* params, std::string_view name, std::string& out) {
    out.clear();
    const TnoxParamsListItem* it = params ? params->FindItem(name) : nullptr;
    if (!it) return false;
    out = BoundaryText(it->Value().Raw());
    return true;
}

std::string ParamText(const TnoxParamsList* params, std::string_view name) {
    std::string s;
    ParamText(params, name, s);
    return s;
}

bool ParamInt(const TnoxParamsList* params, std::string_view name, int64_t& out) {
    const TnoxParamsListItem* it = params ? params->FindItem(name) : nullptr;
    return it && BoundaryInt(it->Value().Raw(), out);
}

bool IsTextValue(const PtValue& v) {
    return v.vt == PT_VAR_OLESTR || v.vt == PT_VAR_STRING;
}

std::string Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
    return std::string(s.substr(b, e - b));
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0, i = 0;
    while (i < text.size()) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.push_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::vector<std::string> SplitFields(const std::string& line, char sep) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t p = line.find(sep, start);
        fields.push_back(
            line.substr(start, p == std::string::npos ? std::string::npos : p - start));
        if (p == std::string::npos) break;
        start = p + 1;
    }
    return fields;
}

bool SameAsciiNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

std::vector<std::string> ParserTypeNames() {
    std::vector<std::string> names = SplitFields(kParserItemTypeNames, '|');
    names.resize(kParserItemTypeNone); // the text ends with '|': drop the empty last field
    return names;
}

// Marks the current thread as inside a command of one module object for the scope.
class CommandScope {
public:
    CommandScope(std::atomic<std::thread::id>& owner, int32_t& depth)
        : owner_(owner), depth_(depth) {
        owner_.store(std::this_thread::get_id());
        ++depth_;
    }
    ~CommandScope() {
        --depth_;
        owner_.store(std::thread::id());
    }

private:
    std::atomic<std::thread::id>& owner_;
    int32_t& depth_;
};

} // namespace

void SetTranslatorFactory(TTranslatorFactory factory) {
    g_translatorFactory.store(factory);
}

constinit const TPropInfo TnoxPlugin::PublishedProps[] = {
    Published<tkString, &TnoxPlugin::MsgNoData>("MsgNoData"),
    Published<tkString, &TnoxPlugin::MsgWriteComplete>("MsgWriteComplete"),
    Published<tkString, &TnoxPlugin::MsgWriteCompleteError>("MsgWriteCompleteError"),
    Published<tkFloat, &TnoxPlugin::MinVersion>("MinVersion"),
    Published<tkString, &TnoxPlugin::Description>("Description"),
    Published<tkString, &TnoxPlugin::LogTitle>("LogTitle"),
    Published<tkSet, &TnoxPlugin::ModuleType>("ModuleType"),
    Published<tkSet, &TnoxPlugin::ModuleOptions>("ModuleOptions"),
    Published<tkString, &TnoxPlugin::EventsSupported>("EventsSupported"),
    PublishedEnum<&TnoxPlugin::IsMultiThreadSupported>("IsMultiThreadSupported", BooleanType),
};
constinit const TClassInfo TnoxPlugin::ClassInfo{"TnoxPlugin", &TComponent::ClassInfo,
                                                 TnoxPlugin::PublishedProps};

// ---- construction --------------------------------------------------------------------------

TnoxPlugin::TnoxPlugin() : TComponent(nullptr) {
    language_ = "EN";
    if (TTranslatorFactory factory = g_translatorFactory.load()) {
        translator_ = factory();
        if (translator_) {
            std::filesystem::path file = ModuleFilePath();
            file.replace_extension(".lng");
            std::error_code ec;
            if (!file.empty() && std::filesystem::exists(file, ec)) {
                translator_->LanguageFile = file.string();
                std::string lang = translator_->ReadLanguages();
                language_ = lang;
            } else {
                translator_->LanguageFile.clear();
            }
            translator_->ComponentProperties = {"MsgNoData", "MsgWriteComplete",
                                                "MsgWriteCompleteError"};
        }
    }
    VersionText = ModuleVersionText();
    ModuleDir = ModuleDirectory();
    ModuleFileName = pt::ModuleFileName();

    // The module's published properties.
    MsgNoData = "No data for processing";
    MsgWriteComplete = "Data have been processed successfully";
    MsgWriteCompleteError = "Data have been processed with errors";
    MinVersion = 4.0f;
    Description = "Pipetask";
    LogTitle = "Pipetask";
    ModuleType = PT_MT_BIT(mttFilter);
    ModuleOptions = 0;
    EventsSupported = "";
    IsMultiThreadSupported = true;

    if (translator_ && !translator_->LanguageFile.empty()) TranslateModule();
}

TnoxPlugin::~TnoxPlugin() {
    DestroyLists();
    ReleaseHostModule();
    if (countedHostModule_) g_hostModuleCount.fetch_sub(1);
}

void TnoxPlugin::TranslateModule() {
    std::string lang = Language();
    if (translated_ || lang.empty()) return;
    if (translator_) {
        // The texts it changes are read by packets: they change only between packets.
        std::unique_lock<std::shared_mutex> lock(ProcessingLock);
        IgnoringExceptions([&] { translator_->Translate(lang, *this, "EN"); });
    }
    translated_ = true;
}

// ---- texts ---------------------------------------------------------------------------------

std::string TnoxPlugin::RegistryPath() const {
    std::lock_guard<std::mutex> g(fieldsLock_);
    return registryPath_;
}
std::string TnoxPlugin::INISectionPrefix() const {
    std::lock_guard<std::mutex> g(fieldsLock_);
    return iniSectionPrefix_;
}
std::string TnoxPlugin::ApplicationName() const {
    std::lock_guard<std::mutex> g(fieldsLock_);
    return applicationName_;
}
std::string TnoxPlugin::INIFile() const {
    std::lock_guard<std::mutex> g(fieldsLock_);
    return iniFile_;
}
void TnoxPlugin::SetINIFile(const std::string& value) {
    std::lock_guard<std::mutex> g(fieldsLock_);
    iniFile_ = value;
}
std::string TnoxPlugin::Language() const {
    std::lock_guard<std::mutex> g(fieldsLock_);
    return language_;
}

std::string TnoxPlugin::ReadIniFileParam(const PtParamsList* params, bool assign) {
    std::string file = ParamText(TnoxParamsList::Checked(params), "INI-FILE");
    if (assign) SetINIFile(file);
    return file;
}

// ---- commands ------------------------------------------------------------------------------

int32_t TnoxPlugin::ExecuteCommand(const std::string& command, PPluginCallRec rec) {
    // A command from a thread that is already inside a command of this object (a handler
    // calling back) would deadlock or corrupt the first one: refused.
    if (commandOwner_.load() == std::this_thread::get_id()) return PT_RESULT_EXCEPTION;
    std::lock_guard<std::mutex> g(commandLock_);
    CommandScope scope(commandOwner_, commandDepth_);
    TnoxParamsList* params = TnoxParamsList::Checked(rec->Params);
    ChangeLanguage(params);
    ReadWindowParams(params);
    return Dispatch(command, rec, params);
}

void TnoxPlugin::ChangeLanguage(const PtParamsList* params) {
    std::string lang;
    if (!ParamText(TnoxParamsList::Checked(params), "LANGUAGE", lang)) return;
    {
        std::lock_guard<std::mutex> g(fieldsLock_);
        if (lang.empty() || language_.empty() || lang == language_) return;
        language_ = lang;
        translated_ = false;
    }
    TranslateModule();
    if (OnChangeLanguage) IgnoringExceptions([&] { OnChangeLanguage(*this); });
}

void TnoxPlugin::ReadWindowParams(const PtParamsList* params) {
    const TnoxParamsList* p = TnoxParamsList::Checked(params);
    int64_t h = 0;
    if (p->FindItem("MessagesProcessorHandle")) {
        MessagesWindow.store(ParamInt(p, "MessagesProcessorHandle", h) ? static_cast<intptr_t>(h)
                                                                       : 0);
    }
    if (p->FindItem("OWNERFORM")) {
        OwnerWindow.store(ParamInt(p, "OWNERFORM", h) ? static_cast<intptr_t>(h) : 0);
    }
}

int32_t TnoxPlugin::Dispatch(const std::string& command, PPluginCallRec rec,
                             const TnoxParamsList* params) {
    TnoxParamsList* mutableParams = TnoxParamsList::Of(rec->Params);
    if (command == "LOAD") return DoLoad(rec, params);
    if (command == "UNLOAD") return DoUnload(rec, params);
    if (command == "SET-ITEMS") return DoSetItems(params);
    if (command == "SET-STATE") return DoSetState(rec, params);
    if (command == "ITEMS") return DoItems(mutableParams);
    if (command == "EVENTS-SUPPORT") {
        mutableParams->SetValue("RESULT", WideValue(EventsSupported), false);
        return PT_RESULT_OK;
    }
    if (command == "EVENT") return DoEvent(rec, params);
    if (command == "SAVE-SETTINGS-NOW") return DoSettingsNow(false, params);
    if (command == "LOAD-SETTINGS-NOW") return DoSettingsNow(true, params);
    int32_t result = PT_RESULT_NOT_HANDLED;
    if (OnExecuteCustomCommand) OnExecuteCustomCommand(*this, command, rec, result);
    return result;
}

int32_t TnoxPlugin::DoLoad(PPluginCallRec rec, const TnoxParamsList* params) {
    if (LoadCount.fetch_add(1) + 1 > 1) return PT_RESULT_OK;
    DialogShowing.store(false);
    HostTag.store(rec->HostTag);
    std::string appName = ParamText(params, "ApplicationName");
    {
        std::lock_guard<std::mutex> g(fieldsLock_);
        registryPath_ = ParamText(params, "RegistryPath");
        iniSectionPrefix_ = ParamText(params, "INISectionPrefix");
        applicationName_ = appName;
        iniFile_ = ParamText(params, "INI-FILE");
    }
    int64_t handle = 0;
    if (params->FindItem("HANDLE") && ParamInt(params, "HANDLE", handle)) {
        void* h = reinterpret_cast<void*>(static_cast<intptr_t>(handle));
        // A number that is not a handle of this process is treated as no handle.
        if (IsLoadedModuleHandle(h)) {
            ReleaseHostModule();
            hostModule_ = h;
        }
    }
    if (!hostModule_ && !appName.empty()) {
        hostModule_ = OpenLoadedModule(appName);
        hostModuleOpened_ = hostModule_ != nullptr;
    }
    CreateLists();
    sendData_.store(nullptr);
    sendString_.store(nullptr);
    sendByte_.store(nullptr);
    if (hostModule_) {
        if (!countedHostModule_) {
            countedHostModule_ = true;
            g_hostModuleCount.fetch_add(1);
        }
        sendData_.store(reinterpret_cast<TfSendData>(ModuleExport(hostModule_, "fSendData")));
        sendString_.store(reinterpret_cast<TfSendString>(ModuleExport(hostModule_, "fSendString")));
        sendByte_.store(reinterpret_cast<TfSendByte>(ModuleExport(hostModule_, "fSendByte")));
    }
    Unloaded.store(false);
    int32_t result = PT_RESULT_OK;
    if (OnLoad) OnLoad(*this, rec, result);
    return result;
}

int32_t TnoxPlugin::DoUnload(PPluginCallRec rec, const TnoxParamsList* params) {
    int32_t left = LoadCount.fetch_sub(1) - 1;
    if (left < 0) {
        LoadCount.store(0);
        return PT_RESULT_OK;
    }
    if (left > 0) return PT_RESULT_OK;
    Unloaded.store(true);
    for (auto& s : typeStates_) s.store(false);
    if (countedHostModule_) {
        countedHostModule_ = false;
        g_hostModuleCount.fetch_sub(1);
    }
    std::string ini = ReadIniFileParam(params, false);
    if (ini != INIFile()) {
        SetINIFile(ini);
        if (OnSaveSettingsNow) IgnoringExceptions([&] { OnSaveSettingsNow(*this); });
    }
    int32_t result = PT_RESULT_OK;
    std::exception_ptr failure;
    if (OnUnload) {
        try {
            OnUnload(*this, rec, result);
        } catch (...) {
            // The object is unloaded all the same; the failure is reported after the cleanup.
            failure = std::current_exception();
        }
    }
    DialogShowing.store(false);
    DestroyLists();
    ReleaseHostModule();
    sendData_.store(nullptr);
    sendString_.store(nullptr);
    sendByte_.store(nullptr);
    MessagesWindow.store(0);
    if (failure) std::rethrow_exception(failure);
    return result;
}

int32_t TnoxPlugin::DoSetItems(const TnoxParamsList* params) {
    const TnoxParamsListItem* it = params->FindItem("ITEMS");
    if (!it || !IsTextValue(it->Value().Raw())) return PT_RESULT_REFUSED;
    parserItems_ = ParseParserItems(BoundaryText(it->Value().Raw()));
    if (OnSetParserItems) OnSetParserItems(*this);
    return PT_RESULT_OK;
}

int32_t TnoxPlugin::DoItems(TnoxParamsList* params) {
    if (!params->FindItem("RESULT")) return PT_RESULT_REFUSED;
    if (OnBeforeGetParserItems) OnBeforeGetParserItems(*this);
    itemsText_ = ParserItemsText(parserItems_);
    params->SetValue("RESULT", WideValue(itemsText_), false);
    return PT_RESULT_OK;
}

int32_t TnoxPlugin::DoSetState(PPluginCallRec rec, const TnoxParamsList* params) {
    std::string sources;
    if (ParamText(params, "DATA-SOURCES-IN-CFG", sources)) {
        dataSources_.clear();
        for (const std::string& line : SplitLines(sources)) {
            try {
                std::vector<std::string> f = SplitFields(line, ';');
                for (auto& x : f) x = Trim(x);
                PtValue idText{};
                pt_value_set_str(&idText, f[0].data(), static_cast<uint32_t>(f[0].size()));
                int64_t id = 0;
                bool isInt = BoundaryInt(idText, id) && id >= INT32_MIN && id <= INT32_MAX;
                pt_value_clear(&idText);
                if (!isInt) continue;
                dataSources_.push_back({static_cast<int32_t>(id),
                                        f.size() > 1 ? f[1] : std::string(),
                                        f.size() > 2 ? f[2] : std::string()});
            } catch (...) {
            }
        }
    }
    if (!params->FindItem("RESULT")) return PT_RESULT_REFUSED;
    int64_t v = 0;
    // A RESULT without an integer reading sets nothing (refused like a missing one).
    if (!ParamInt(params, "RESULT", v)) return PT_RESULT_REFUSED;
    const uint8_t types = rec->CallTypes;
    for (int t = 0; t < 8; ++t)
        if (types & (1u << t)) typeStates_[t].store(v == 1);
    if (OnStateChanged) IgnoringExceptions([&] { OnStateChanged(*this, types); });
    return PT_RESULT_OK;
}

int32_t TnoxPlugin::DoEvent(PPluginCallRec rec, const TnoxParamsList* params) {
    std::string type;
    if (!ParamText(params, "EVENT-TYPE", type)) return PT_RESULT_REFUSED;
    if (!OnEvent) return PT_RESULT_OK;
    int32_t result = PT_RESULT_REFUSED;
    OnEvent(*this, type, rec, result);
    return result;
}

int32_t TnoxPlugin::DoSettingsNow(bool load, const TnoxParamsList* params) {
    const std::string saved = INIFile();
    SetINIFile(ParamText(params, "INI-FILE"));
    if (load && OnLoadSettingsNow) IgnoringExceptions([&] { OnLoadSettingsNow(*this); });
    if (!load && OnSaveSettingsNow) IgnoringExceptions([&] { OnSaveSettingsNow(*this); });
    SetINIFile(saved);
    if (load && OnSaveSettingsNow) IgnoringExceptions([&] { OnSaveSettingsNow(*this); });
    return PT_RESULT_NOT_HANDLED;
}

std::string TnoxPlugin::CustomCommandsText() const {
    if (!(ModuleType & PT_MT_BIT(mttMenuExt))) return {};
    std::string text;
    for (size_t i = 0; i < CustomCommands.Count(); ++i) {
        const TnoxPluginCustomCmd& c = CustomCommands[i];
        text += c.Caption + "|" + c.Command + "|" + c.Hint + "|" + std::to_string(c.Kind) + "|" +
                std::to_string(c.Flags) + "\r\n";
    }
    return text;
}

// ---- options dialog ------------------------------------------------------------------------

void TnoxPlugin::ShowOptions(PPluginCallRec rec) {
    if (!OnShowOptionsDialog) {
        rec->ResultValue = 3;
        return;
    }
    rec->ResultValue = 4;
    struct Showing {
        std::atomic<bool>& flag;
        ~Showing() { flag.store(false); }
    } showing{DialogShowing};
    if (rec->Params) {
        const TnoxParamsList* params = TnoxParamsList::Checked(rec->Params);
        ReadIniFileParam(params, true);
        ChangeLanguage(params);
        int64_t h = 0;
        if (params->FindItem("OWNERFORM"))
            OwnerWindow.store(ParamInt(params, "OWNERFORM", h) ? static_cast<intptr_t>(h) : 0);
    }
    DialogShowing.store(true);
    bool success = false;
    IgnoringExceptions([&] { OnShowOptionsDialog(*this, rec, success); });
    rec->ResultValue = success ? 1 : 0;
    if (!success) return;
    TnoxPluginRegistry* registry = PluginRegistry();
    if (!registry) return;
    const std::string path = RegistryPath();
    for (const auto& other : registry->Snapshot()) {
        if (other.get() == this || !other->OnLoadSettingsNow || other->RegistryPath() != path)
            continue;
        IgnoringExceptions([&] { other->OnLoadSettingsNow(*other); });
    }
}

// ---- lists ---------------------------------------------------------------------------------

void TnoxPlugin::CreateLists() {
    std::unique_lock<std::shared_mutex> p(ProcessingLock);
    std::lock_guard<std::mutex> e(eventsLock_);
    for (auto& b : outputBuffers_)
        if (!b) b = TnoxParamsList::CreateRows();
    if (!outputRows_) outputRows_ = outputBuffers_[0];
    if (!events_) events_ = TnoxParamsList::CreateRows();
    if (!pendingEvents_) pendingEvents_ = TnoxParamsList::CreateRows();
}

void TnoxPlugin::DestroyLists() noexcept {
    std::unique_lock<std::shared_mutex> p(ProcessingLock);
    std::lock_guard<std::mutex> e(eventsLock_);
    for (auto& b : outputBuffers_) {
        TnoxParamsList::Destroy(b);
        b = nullptr;
    }
    outputRows_ = nullptr;
    TnoxParamsList::Destroy(events_);
    TnoxParamsList::Destroy(pendingEvents_);
    events_ = pendingEvents_ = nullptr;
}

void TnoxPlugin::ReleaseHostModule() noexcept {
    if (hostModuleOpened_) CloseModule(hostModule_);
    hostModuleOpened_ = false;
    hostModule_ = nullptr;
}

int32_t TnoxPlugin::PendingEventItems() const {
    std::lock_guard<std::mutex> e(eventsLock_);
    return pendingEvents_ ? pendingEvents_->GetCount() : 0;
}

// ---- data exchange -------------------------------------------------------------------------

void TnoxPlugin::LogMessage(int kind, std::string TnoxPlugin::*text) {
    std::string message;
    {
        std::shared_lock<std::shared_mutex> lock(ProcessingLock);
        message = this->*text;
    }
    if (!message.empty()) WriteLog(kind, message);
}

void TnoxPlugin::PublishOutput(PPluginCallRec rec, int32_t& result) {
    if (outputRows_ && !outputRows_->Empty()) {
        rec->ResultKind = PT_RESULTKIND_LIST;
        rec->ResultValue = reinterpret_cast<intptr_t>(outputRows_);
    }
    if (result > 0 && rec->Buffer == nullptr) result = 0;
}

int32_t TnoxPlugin::ProcessPacket(PPluginCallRec rec) {
    int32_t result = PT_RESULT_OK;
    rec->ResultValue = 0;
    TnoxParamsList::Checked(rec->Params);
    if (!rec->Params) throw ENoxListError("Invalid call parameters");
    void* const given = rec->Buffer;
    const uint8_t types = rec->CallTypes;
    if (types != 0) {
        TnoxParamsList* data = nullptr;
        if (rec->DataKind == PT_DATAKIND_LIST && rec->Buffer)
            data = TnoxParamsList::Checked(static_cast<PtParamsList*>(rec->Buffer));
        if (rec->DataKind == PT_DATAKIND_LIST && !(types & PT_MT_BIT(mttDataQuery)) &&
            (!data || data->Empty())) {
            rec->Buffer = nullptr;
            data = nullptr;
        }
        bool skip = false;
        if (types & PT_MT_BIT(mttDataExport)) {
            if (!rec->Buffer) {
                LogMessage(PT_LOG_WARNING, &TnoxPlugin::MsgNoData);
                skip = true;
            } else if (data && data->IsRowsList() && !data->Empty() && !data->Last()->IsNewRow()) {
                data->AddNewRow();
            }
        }
        if (!skip) {
            bool failed = false;
            try {
                std::unique_lock<std::shared_mutex> lock(ProcessingLock);
                // The rows of the previous packet stay untouched in the other buffer.
                if (outputBuffers_[0] && outputBuffers_[1]) {
                    outputRows_ =
                        outputRows_ == outputBuffers_[0] ? outputBuffers_[1] : outputBuffers_[0];
                    outputRows_->Clear();
                }
                if (OnProcessData) OnProcessData(*this, rec, result);
                PublishOutput(rec, result);
            } catch (...) {
                failed = true;
                result = PT_RESULT_EXCEPTION;
            }
            if (failed) {
                LogMessage(PT_LOG_WARNING, &TnoxPlugin::MsgWriteCompleteError);
            } else if (types & (PT_MT_BIT(mttDataExport) | PT_MT_BIT(mttEventsHandling))) {
                if (result < 0)
                    LogMessage(PT_LOG_WARNING, &TnoxPlugin::MsgWriteCompleteError);
                else
                    LogMessage(PT_LOG_INFO, &TnoxPlugin::MsgWriteComplete);
            }
        }
    }
    if (rec->Buffer == given) rec->Buffer = nullptr;
    return result;
}

int32_t TnoxPlugin::SupplyData(PPluginCallRec rec) {
    rec->ResultValue = 0;
    if (rec->CallTypes == 0) return PT_RESULT_OK;
    rec->Buffer = nullptr;
    if (!OnGetData) return PT_RESULT_OK;
    int32_t result = PT_RESULT_OK;
    try {
        std::unique_lock<std::shared_mutex> lock(ProcessingLock);
        if (outputBuffers_[0] && outputBuffers_[1]) {
            outputRows_ = outputRows_ == outputBuffers_[0] ? outputBuffers_[1] : outputBuffers_[0];
            outputRows_->Clear();
        }
        OnGetData(*this, rec, result);
        PublishOutput(rec, result);
    } catch (...) {
        result = PT_RESULT_EXCEPTION;
        LogMessage(PT_LOG_WARNING, &TnoxPlugin::MsgWriteCompleteError);
    }
    return result;
}

int32_t TnoxPlugin::HandOverEvents(PPluginCallRec rec) {
    std::lock_guard<std::mutex> e(eventsLock_);
    if (events_ && rec->ResultValue == reinterpret_cast<intptr_t>(events_)) {
        events_->Clear();
        return PT_RESULT_OK;
    }
    if (events_ && pendingEvents_ && !pendingEvents_->Empty()) {
        // A host that publishes again without confirming has finished with the previous
        // batch; it stays in the list, bounded like the pending events.
        if (events_->GetCount() + pendingEvents_->GetCount() > kEventItemLimit) events_->Clear();
        events_->TakeItemsFrom(*pendingEvents_);
    }
    rec->ResultKind = PT_RESULTKIND_LIST;
    rec->ResultValue = reinterpret_cast<intptr_t>(events_);
    return PT_RESULT_OK;
}

void TnoxPlugin::PostEvent(bool isGlobal, const std::string& eventType,
                           const PtParamsList* values) {
    {
        std::lock_guard<std::mutex> e(eventsLock_);
        if (!pendingEvents_) return; // not loaded: there is no event list
        const TnoxParamsList* source = TnoxParamsList::Checked(values);
        if (pendingEvents_->GetCount() > kEventItemLimit) pendingEvents_->Clear();
        if (isGlobal) pendingEvents_->Add("EVENT-GLOBAL", Variant(true));
        pendingEvents_->Add("EVENT-TYPE", WideValue(AnsiUpper(eventType)));
        if (source) pendingEvents_->AddList(source);
        pendingEvents_->AddNewRow();
    }
    NotifyHost(PT_WM_EVENTS_WAITING);
}

void TnoxPlugin::NotifyHost(uint32_t message) {
    const intptr_t window = MessagesWindow.load();
    if (!WindowFromHandle(window)) return;
    const uintptr_t tag = HostTag.load();
    if (!PostToWindow(window, message, tag, 0))
        SendToWindow(window, message, tag, 0, kSendTimeoutMs);
}

// ---- log channel ---------------------------------------------------------------------------

std::string TnoxPlugin::LogLine(int kind, const std::string& message) const {
    if (kind < PT_LOG_ERROR || kind > PT_LOG_INFO) kind = PT_LOG_ERROR;
    std::string line(1, static_cast<char>(kind + 1));
    if (!LogTitle.empty()) line += LogTitle + ". ";
    line += message;
    std::replace_if(
        line.begin() + 1, line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return line;
}

std::string TnoxPlugin::TakePendingText() {
    return LogLines.Locked([](TThreadStringList::Lines& lines) {
        std::string text = TThreadStringList::JoinCrLf(lines);
        lines.clear();
        return text;
    });
}

void TnoxPlugin::RestorePendingText(const std::string& text) {
    // Lines queued meanwhile by another thread stay after the ones taken back.
    TThreadStringList::Lines back = TThreadStringList::SplitCrLf(text);
    LogLines.Locked([&](TThreadStringList::Lines& lines) {
        lines.insert(lines.begin(), back.begin(), back.end());
        while (lines.size() > kPendingLogLimit) lines.pop_front();
        return 0;
    });
}

void TnoxPlugin::WriteLog(int kind, const std::string& message) {
    try {
        const intptr_t window = MessagesWindow.load();
        if (!WindowFromHandle(window)) return;
        const uintptr_t tag = HostTag.load();
        std::string pending = TakePendingText();
        if (!pending.empty() &&
            !SendCopyData(window, tag, PT_COPYDATA_LOG_BLOCK, pending.data(),
                          static_cast<uint32_t>(pending.size()), kSendTimeoutMs)) {
            RestorePendingText(pending);
            QueueLog(kind, message);
            return;
        }
        std::string line = LogLine(kind, message);
        if (!SendCopyData(window, tag, PT_COPYDATA_LOG_LINE, line.data(),
                          static_cast<uint32_t>(line.size()), kSendTimeoutMs))
            QueueLog(kind, message);
    } catch (...) {
    }
}

void TnoxPlugin::QueueLog(int kind, const std::string& message) {
    try {
        if (!WindowFromHandle(MessagesWindow.load())) return;
        std::string line = LogLine(kind, message);
        LogLines.Locked([&](TThreadStringList::Lines& lines) {
            lines.push_back(std::move(line));
            while (lines.size() > kPendingLogLimit) lines.pop_front();
            return 0;
        });
        NotifyHost(PT_WM_LOG_WAITING);
    } catch (...) {
    }
}

int32_t TnoxPlugin::HandOutLog(PPluginCallRec rec) {
    return LogLines.Locked([&](TThreadStringList::Lines& lines) -> int32_t {
        std::string text = TThreadStringList::JoinCrLf(lines);
        rec->ResultValue = static_cast<intptr_t>(text.size());
        if (text.empty()) return 0;
        const int32_t size = rec->BufferSize;
        if (size == 0) {
            lines.clear();
            return 0;
        }
        if (size < 0 || text.size() > static_cast<size_t>(size) || !rec->Buffer) return 0;
        std::memcpy(rec->Buffer, text.data(), text.size());
        lines.clear();
        return static_cast<int32_t>(text.size());
    });
}

// ---- parser items --------------------------------------------------------------------------

std::vector<TParserItem> ParseParserItems(const std::string& text) {
    static const std::vector<std::string> typeNames = ParserTypeNames();
    std::vector<TParserItem> items;
    for (const std::string& line : SplitLines(text)) {
        std::vector<std::string> f = SplitFields(line, '|');
        if (f.size() < 2) continue;
        TParserItem item;
        item.Caption = f[0];
        item.Name = f[1];
        if (f.size() > 2) {
            for (size_t i = 0; i < typeNames.size(); ++i)
                if (SameAsciiNoCase(typeNames[i], f[2])) {
                    item.ItemType = static_cast<uint8_t>(i);
                    break;
                }
        }
        if (f.size() > 3) item.Extra = f[3];
        items.push_back(std::move(item));
    }
    return items;
}

std::string ParserItemsText(const std::vector<TParserItem>& items) {
    static const std::vector<std::string> typeNames = ParserTypeNames();
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) {
        const TParserItem& it = items[i];
        if (i) text += "\r\n";
        text += it.Caption + "|" + it.Name + "|" +
                (it.ItemType < typeNames.size() ? typeNames[it.ItemType] : std::string()) + "|" +
                it.Extra;
    }
    return text;
}

} // namespace pt
