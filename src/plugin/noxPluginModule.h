// TnoxPlugin: the module object that serves one instance number of the host. It carries the
// module's identity, the state the host's commands set up, the command dispatcher, the data
// exchange (packets, data requests, events), and the log channel to the host window. A
// concrete plug-in supplies its behaviour by assigning the On... handlers (this program's
// TaPlugin, in its constructor).
//
// Locks, in the order they may nest (never the reverse):
//   CommandLock -> ProcessingLock -> eventsLock_ ; LogLines' lock and fieldsLock_ are leaves.
// The registry lock (noxPluginRegistry) is never held while a module object runs code.
//
// OnProcessData and OnGetData run with ProcessingLock held exclusively (ProcessPacket and
// SupplyData take it, so that switching the output buffer, filling it and publishing it are
// one step); the handlers must not take it again. Commands that swap configuration take it
// themselves (Lock/Unlock) while holding CommandLock.
#pragma once

#include <pipetask/pipetask.h>

#include "common/Classes.h"
#include "common/Thread_StringList.h"
#include "common/noxParamLst.h"
#include "settings/TWregistry.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

namespace pt {

class TnoxPlugin;

// ---- records of the module object ----------------------------------------------------------

// The type-name list of parser items, indexes 0-16; 17 is "none".
inline constexpr const char* kParserItemTypeNames =
    "String|Memo|Bytes|Blob|Boolean|Float|Smallint|Word|Integer|Date|Time|DateTime|DWord|Byte|"
    "Shortint|Int64|Currency|";
inline constexpr uint8_t kParserItemTypeNone = 17;

struct TParserItem {
    std::string Name;
    std::string Caption;
    uint8_t ItemType = kParserItemTypeNone;
    std::string Extra;
};

struct TConfigDataSource {
    int32_t Id = 0;
    std::string Name;   // second field of the source line
    std::string Params; // third field
};

struct TnoxPluginCustomCmd {
    std::string Caption;
    std::string Command;
    std::string Hint;
    uint8_t Kind = 0;
    uint8_t Flags = 0;
};

// Owns its entries; an entry is freed when it leaves the list.
class TnoxPluginCustomCmdList {
public:
    void Add(TnoxPluginCustomCmd cmd) {
        items_.push_back(std::make_unique<TnoxPluginCustomCmd>(std::move(cmd)));
    }
    void Clear() { items_.clear(); }
    size_t Count() const { return items_.size(); }
    const TnoxPluginCustomCmd& operator[](size_t i) const { return *items_[i]; }

private:
    std::vector<std::unique_ptr<TnoxPluginCustomCmd>> items_;
};

// The seam for the translator: the module object asks it for the language file's default
// language and to translate the module into a language. Set a factory at start-up
// (SetTranslatorFactory); without one the module has no translator and no language file.
class TnoxModuleTranslator {
public:
    virtual ~TnoxModuleTranslator() = default;
    // The language file's default language (empty when it names none).
    virtual std::string ReadLanguages() = 0;
    virtual void Translate(const std::string& language, TnoxPlugin& module,
                           const std::string& baseLanguage) = 0;
    // Names of properties of the module whose texts are translated.
    std::vector<std::string> ComponentProperties;
    std::string LanguageFile;
};
using TTranslatorFactory = std::unique_ptr<TnoxModuleTranslator> (*)();
void SetTranslatorFactory(TTranslatorFactory factory);

// ---- the module object ---------------------------------------------------------------------

// A component (the original's data module): its published properties are reachable by name
// through the reflection layer (the translator swaps the message texts that way), and the
// components a descendant creates with the module as owner belong to it.
class TnoxPlugin : public TComponent {
    PT_PUBLISHED_CLASS;

public:
    // Event types (Sender first, as the host framework defines them).
    using TShowOptionsDialogEvent = std::function<void(TnoxPlugin&, PPluginCallRec, bool& Success)>;
    using TExecutePluginCustomCommandEvent = std::function<void(
        TnoxPlugin&, const std::string& Command, PPluginCallRec, int32_t& Result)>;
    using TExecutePluginCommandEvent =
        std::function<void(TnoxPlugin&, PPluginCallRec, int32_t& Result)>;
    using TNotifyEvent = std::function<void(TnoxPlugin&)>;
    using TOnPluginStateChangeNotifyEvent = std::function<void(TnoxPlugin&, TModuleTypes)>;
    using TOnProcessData = std::function<void(TnoxPlugin&, PPluginCallRec, int32_t& Result)>;
    using TOnPluginNotifyEvent = std::function<void(TnoxPlugin&)>;

    TnoxPlugin();
    ~TnoxPlugin() override;
    TnoxPlugin(const TnoxPlugin&) = delete;
    TnoxPlugin& operator=(const TnoxPlugin&) = delete;

    // ---- published properties (this program's values are set by the constructor) ----
    std::string MsgNoData;
    std::string MsgWriteComplete;
    std::string MsgWriteCompleteError;
    float MinVersion = 0.0f;
    std::string Description;
    std::string LogTitle;
    TModuleTypes ModuleType = 0;
    TModuleOptions ModuleOptions = 0;
    std::string EventsSupported;
    bool IsMultiThreadSupported = false;

    // ---- published events ----
    TShowOptionsDialogEvent OnShowOptionsDialog;
    TExecutePluginCustomCommandEvent OnExecuteCustomCommand;
    TExecutePluginCustomCommandEvent OnEvent;
    TExecutePluginCommandEvent OnLoad;
    TExecutePluginCommandEvent OnUnload;
    TNotifyEvent OnSaveSettingsNow;
    TNotifyEvent OnLoadSettingsNow;
    TNotifyEvent OnBeforeGetParserItems;
    TNotifyEvent OnSetParserItems;
    TOnPluginStateChangeNotifyEvent OnStateChanged;
    TOnProcessData OnProcessData; // runs under ProcessingLock (see the top of this file)
    TOnProcessData OnGetData;     // runs under ProcessingLock
    TOnPluginNotifyEvent OnChangeLanguage;
    // Handed to every settings store the module creates.
    TSetValueProc OnSetPropertyValue;
    TGetValueProc OnGetPropertyValue;
    TBeforeProcessItemProc OnBeforeProcessSettingsItem;

    // ---- operations behind the exports ----
    int32_t ExecuteCommand(const std::string& command, PPluginCallRec rec);
    void ShowOptions(PPluginCallRec rec);
    std::string CustomCommandsText() const;
    std::string ReadIniFileParam(const PtParamsList* params, bool assign);
    int32_t ProcessPacket(PPluginCallRec rec);
    int32_t SupplyData(PPluginCallRec rec);
    int32_t HandOverEvents(PPluginCallRec rec);
    // GetLogEx: hands the pending log lines out through the record's buffer.
    int32_t HandOutLog(PPluginCallRec rec);

    // ---- data exchange and log ----
    void PostEvent(bool isGlobal, const std::string& eventType, const PtParamsList* values);
    void NotifyHost(uint32_t message);
    void WriteLog(int kind, const std::string& message);
    void QueueLog(int kind, const std::string& message);
    // The log line for a message: kind + 1, title and ". ", the text with CR and LF blanked.
    std::string LogLine(int kind, const std::string& message) const;

    void Lock() { ProcessingLock.lock(); }
    void Unlock() { ProcessingLock.unlock(); }

    // ---- state (read by the exports and by descendants) ----
    uint32_t InstanceId = 0;
    std::atomic<int32_t> LoadCount{0};
    std::atomic<bool> Unloaded{false};
    std::atomic<int32_t> Busy{0}; // data exports running on the object
    std::atomic<bool> DialogShowing{false};
    std::atomic<uint32_t> HostTag{0};
    std::atomic<intptr_t> MessagesWindow{0};
    std::atomic<intptr_t> OwnerWindow{0};
    std::atomic<bool> SettingsBusy{false};
    TRegistryRoot RegistryRoot = rrHKEY_LOCAL_MACHINE;
    TRegistryRoot SecondRegistryRoot = rrHKEY_CURRENT_USER;
    struct TBounds {
        int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    } DialogBounds;

    // Texts set by commands; read them through these (other threads read RegistryPath).
    std::string RegistryPath() const;
    std::string INISectionPrefix() const;
    std::string ApplicationName() const;
    std::string INIFile() const;
    void SetINIFile(const std::string& value);
    std::string Language() const;
    bool Translated() const { return translated_; }

    void* HostModule() const { return hostModule_; }
    TfSendData SendDataFn() const { return sendData_.load(); }
    TfSendString SendStringFn() const { return sendString_.load(); }
    TfSendByte SendByteFn() const { return sendByte_.load(); }
    bool TypeState(TModuleType t) const { return typeStates_[t].load(); }

    const std::vector<TParserItem>& ParserItems() const { return parserItems_; }
    const std::string& ItemsText() const { return itemsText_; }
    const std::vector<TConfigDataSource>& DataSources() const { return dataSources_; }
    TnoxPluginCustomCmdList CustomCommands;
    TThreadStringList LogLines;

    // The module's lists, created at "LOAD" and destroyed at the last "UNLOAD". OutputRows is
    // the list the current packet's handler fills; Events is the list handed to the host by
    // GetEvents (new events wait in a list of their own until then: docs/boundary-lists.md).
    TnoxParamsList* OutputRows() const { return outputRows_; }
    TnoxParamsList* Events() const { return events_; }
    int32_t PendingEventItems() const;

    TnoxModuleTranslator* Translator() const { return translator_.get(); }
    std::string ModuleDir;
    std::string ModuleFileName;
    std::string VersionText;

    std::shared_mutex ProcessingLock;

protected:
    // Hooks for descendants; the base does nothing.
    virtual void TranslateModule();

private:
    void ChangeLanguage(const PtParamsList* params);
    void ReadWindowParams(const PtParamsList* params);
    int32_t Dispatch(const std::string& command, PPluginCallRec rec, const TnoxParamsList* params);
    int32_t DoLoad(PPluginCallRec rec, const TnoxParamsList* params);
    int32_t DoUnload(PPluginCallRec rec, const TnoxParamsList* params);
    int32_t DoSetItems(const TnoxParamsList* params);
    int32_t DoItems(TnoxParamsList* params);
    int32_t DoSetState(PPluginCallRec rec, const TnoxParamsList* params);
    int32_t DoEvent(PPluginCallRec rec, const TnoxParamsList* params);
    int32_t DoSettingsNow(bool load, const TnoxParamsList* params);
    void PublishOutput(PPluginCallRec rec, int32_t& result);
    // Writes one of the message properties (read under ProcessingLock: the translator
    // changes them under it) unless it is empty. Call without holding ProcessingLock.
    void LogMessage(int kind, std::string TnoxPlugin::*text);
    void CreateLists();
    void DestroyLists() noexcept;
    void ReleaseHostModule() noexcept;
    std::string TakePendingText();
    void RestorePendingText(const std::string& text);

    std::mutex commandLock_;
    std::atomic<std::thread::id> commandOwner_{};
    int32_t commandDepth_ = 0;

    mutable std::mutex fieldsLock_;
    std::string registryPath_, iniSectionPrefix_, applicationName_, iniFile_, language_;
    bool translated_ = false;

    void* hostModule_ = nullptr;
    bool hostModuleOpened_ = false; // opened by name: this object closes it
    bool countedHostModule_ = false;
    std::atomic<TfSendData> sendData_{nullptr};
    std::atomic<TfSendString> sendString_{nullptr};
    std::atomic<TfSendByte> sendByte_{nullptr};
    std::atomic<bool> typeStates_[8] = {};

    std::vector<TParserItem> parserItems_;
    std::string itemsText_;
    std::vector<TConfigDataSource> dataSources_;

    // Two output buffers used in turn, so that the rows the host reads stay intact while the
    // next packet is processed (docs/boundary-lists.md).
    TnoxParamsList* outputBuffers_[2] = {nullptr, nullptr};
    TnoxParamsList* outputRows_ = nullptr;
    mutable std::mutex eventsLock_;
    TnoxParamsList* events_ = nullptr;        // handed over to the host
    TnoxParamsList* pendingEvents_ = nullptr; // new events, not yet handed over

    std::unique_ptr<TnoxModuleTranslator> translator_;
};

// Parser items from the "SET-ITEMS" text, and back to the "ITEMS" text.
std::vector<TParserItem> ParseParserItems(const std::string& text);
std::string ParserItemsText(const std::vector<TParserItem>& items);

// Runs f and swallows any exception (handlers whose failures are ignored).
template <class F> void IgnoringExceptions(F&& f) noexcept {
    try {
        f();
    } catch (...) {
    }
}

} // namespace pt
