// The configuration of a module object: the script text and language and the geometry of
// the options dialog, held by an object whose published properties are named after the
// dialog's controls ("fsTree1.Width" -> fsTree1_Width), so that one settings entry list serves
// both the dialog and the configuration. Where the values are stored is the module's
// business (TModuleSettings): registry key or INI file and section, decided per operation.
#pragma once

#include <array>
#include <atomic>
#include <string>
#include <string_view>

#include "common/Classes.h"
#include "settings/TWregistry.h"

namespace pt {

// The module's settings entry list, in order; the lines above ";---short---" form the short
// list (the dialog geometry, saved also when the dialog is cancelled).
extern const std::array<std::string_view, 8> SettingsEntryList;
inline constexpr std::string_view kShortListMarker = ";---short---";
void FillSettingsEntryList(TStrings& list);

enum class TSettingsKind { skLoad, skSave };

// What a module object keeps about where its settings live, and the settings operation.
class TModuleSettings {
public:
    TRegistryRoot RegistryRoot = rrHKEY_LOCAL_MACHINE;
    TRegistryRoot SecondRegistryRoot = rrHKEY_CURRENT_USER;
    std::string RegistryPath;
    std::string INIFile;
    std::string INISectionPrefix;
    TSetValueProc OnSetPropertyValue;
    TGetValueProc OnGetPropertyValue;
    TBeforeProcessItemProc OnBeforeProcessSettingsItem;

    // True while a settings store operation runs.
    bool SettingsBusy() const noexcept { return busy_.load() > 0; }

    // Runs "load" or "save" of the entry list against `root` with a store made for this one
    // operation; `iniFile`, when not empty, replaces the module's INIFile. Answers the store's
    // result; errors reading the INI file are raised.
    bool SettingsOperation(TSettingsKind kind, const TStrings& entries, TPersistent* root,
                           std::string_view iniFile = {});
    // Saves the lines up to and including the first ";---short---" (all of them when there is
    // no such line).
    bool SaveShort(const TStrings& entries, TPersistent* root, std::string_view iniFile = {});

private:
    std::atomic<int> busy_{0};
};

// Flat stand-in for the options dialog (initial values as the dialog is designed).
class TProxyCodeObject : public TProxyCodeCustomObject {
    PT_PUBLISHED_CLASS;

public:
    explicit TProxyCodeObject(TComponent* owner = nullptr);

    int32_t Top = 184;
    int32_t Left = 314;
    int32_t Width = 463;
    int32_t Height = 278;
    int32_t fsTree1_Width = 157;
    int32_t comboType_ItemIndex = 0; // 0 PascalScript, 1 C++Script, 2 JScript, 3 BasicScript
    TStringList& edtExpr_Lines() noexcept { return lines_; }
    const TStringList& edtExpr_Lines() const noexcept { return lines_; }

private:
    TStringList lines_;
};

// The configuration object of a module; `settings` is the module's side (it outlives this).
class TDataSourceCfg : public TProxyCodeObject {
    PT_PUBLISHED_CLASS;

public:
    TDataSourceCfg(TComponent* owner, TModuleSettings& settings);

    // Loads the full entry list into this object. A stored language index below 0 becomes 0
    // and the answer false; otherwise the store's answer.
    bool Load();
    bool Save();
    bool SaveShort();

private:
    TModuleSettings& settings_;
};

} // namespace pt
