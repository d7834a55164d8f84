#include "processing/CfgOptionsProxy.h"

namespace pt {

constinit const std::array<std::string_view, 8> SettingsEntryList = {
    "Top,Top",
    "Left,Left",
    "Width,Width",
    "Height,Height",
    "fsTree1.Width,Editor width",
    kShortListMarker,
    "edtExpr.Lines,Script",
    "comboType.ItemIndex,Language",
};

void FillSettingsEntryList(TStrings& list) {
    list.BeginUpdate();
    list.Clear();
    for (std::string_view line : SettingsEntryList) list.Add(std::string(line));
    list.EndUpdate();
}

namespace {

struct BusyScope {
    explicit BusyScope(std::atomic<int>& b) : busy(b) { ++busy; }
    ~BusyScope() { --busy; }
    std::atomic<int>& busy;
};

TObject* ProxyLines(const TPersistent& o) {
    return const_cast<TStringList*>(&static_cast<const TProxyCodeObject&>(o).edtExpr_Lines());
}

} // namespace

bool TModuleSettings::SettingsOperation(TSettingsKind kind, const TStrings& entries,
                                        TPersistent* root, std::string_view iniFile) {
    BusyScope busy(busy_);
    TWreg store;
    store.RegistryRoot = RegistryRoot;
    store.SecondRegistryRoot = SecondRegistryRoot;
    store.RegistryPath = RegistryPath;
    store.INIFileSectionPrefix = INISectionPrefix;
    store.SetValue = OnSetPropertyValue;
    store.GetValue = OnGetPropertyValue;
    store.BeforeProcessItem = OnBeforeProcessSettingsItem;
    store.INIFile = iniFile.empty() ? INIFile : std::string(iniFile);
    store.Components().Assign(entries);
    return kind == TSettingsKind::skLoad ? store.LoadProperties(root) : store.SaveProperties(root);
}

bool TModuleSettings::SaveShort(const TStrings& entries, TPersistent* root,
                                std::string_view iniFile) {
    TStringList shortList;
    for (int i = 0; i < entries.Count(); ++i) {
        shortList.Add(entries[i]);
        if (entries[i].find(kShortListMarker) != std::string::npos) break;
    }
    return SettingsOperation(TSettingsKind::skSave, shortList, root, iniFile);
}

constinit const TPropInfo TProxyCodeObject::PublishedProps[] = {
    Published<tkInteger, &TProxyCodeObject::Top>("Top"),
    Published<tkInteger, &TProxyCodeObject::Left>("Left"),
    Published<tkInteger, &TProxyCodeObject::Width>("Width"),
    Published<tkInteger, &TProxyCodeObject::Height>("Height"),
    Published<tkInteger, &TProxyCodeObject::fsTree1_Width>("fsTree1_Width"),
    TPropInfo{.Name = "edtExpr_Lines",
              .Kind = tkClass,
              .PropClass = &TStrings::ClassInfo,
              .GetObj = ProxyLines},
    Published<tkInteger, &TProxyCodeObject::comboType_ItemIndex>("comboType_ItemIndex"),
};
constinit const TClassInfo TProxyCodeObject::ClassInfo{
    "TProxyCodeObject", &TProxyCodeCustomObject::ClassInfo, TProxyCodeObject::PublishedProps};

TProxyCodeObject::TProxyCodeObject(TComponent* owner) : TProxyCodeCustomObject(owner) {
    lines_.Add(std::string());
}

constinit const TClassInfo TDataSourceCfg::ClassInfo{
    "TDataSourceCfg", &TProxyCodeObject::ClassInfo, {}};

TDataSourceCfg::TDataSourceCfg(TComponent* owner, TModuleSettings& settings)
    : TProxyCodeObject(owner), settings_(settings) {}

bool TDataSourceCfg::Load() {
    TStringList entries;
    FillSettingsEntryList(entries);
    bool ok = settings_.SettingsOperation(TSettingsKind::skLoad, entries, this);
    if (comboType_ItemIndex < 0) {
        comboType_ItemIndex = 0;
        return false;
    }
    return ok;
}

bool TDataSourceCfg::Save() {
    TStringList entries;
    FillSettingsEntryList(entries);
    return settings_.SettingsOperation(TSettingsKind::skSave, entries, this);
}

bool TDataSourceCfg::SaveShort() {
    TStringList entries;
    FillSettingsEntryList(entries);
    return settings_.SaveShort(entries, this);
}

} // namespace pt
