#include "settings/TWregistry.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <optional>
#include <sys/stat.h>

#include "platform/FormatSettings.h"
#include "platform/IniFiles.h"
#include "platform/NamedLock.h"
#include "platform/Registry.h"

namespace pt {

namespace {

bool IsBlank(char c) noexcept {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string_view Trim(std::string_view s) noexcept {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

int HexDigit(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// ---- values moving through an entry -------------------------------------------------------
// Values are Variants: integers, floats and texts as read from the store, Null for "[[Null]]",
// Empty for "no value".

bool Missing(const Variant& v) noexcept {
    return v.IsEmpty() || v.IsNull();
}

bool IsTextKind(TTypeKind k) noexcept {
    return k == tkChar || k == tkString || k == tkWChar || k == tkLString || k == tkWString ||
           k == tkUString;
}

// ---- custom property handlers -------------------------------------------------------------

struct CustomPropRegistry {
    std::mutex lock;
    std::vector<std::pair<std::string, TWregCustomPropFactory>> entries;
};

CustomPropRegistry& CustomProps() {
    static CustomPropRegistry registry;
    return registry;
}

std::string LowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

bool PathExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

} // namespace

// ---- texts -------------------------------------------------------------------------------

std::string EncodeStoredText(std::string_view text) {
    size_t first = 0, last = text.size();
    while (first < last && text[first] == ' ') ++first;
    while (last > first && text[last - 1] == ' ') --last;
    static const char* hex = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == ' ') {
            out += (i < first || i >= last) ? '+' : ' ';
        } else if (c == '%') {
            out += "%%";
        } else if (c == '+' || c < 32) {
            // NUL is escaped as well: stored texts end at a zero byte in the registry.
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string DecodeStoredText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            int h, l;
            if (i + 1 < text.size() && text[i + 1] == '%') {
                out += '%';
                ++i;
            } else if (i + 2 < text.size() && (h = HexDigit(text[i + 1])) >= 0 &&
                       (l = HexDigit(text[i + 2])) >= 0) {
                out += static_cast<char>(h * 16 + l);
                i += 2;
            } else {
                out += '%';
            }
        } else {
            out += c == '+' ? ' ' : c;
        }
    }
    return out;
}

int32_t StoredTextToInt(std::string_view text) noexcept {
    std::string_view t = Trim(text);
    bool negative = false;
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
        negative = t[0] == '-';
        t.remove_prefix(1);
    }
    int base = 10;
    if (t.starts_with("$") || t.starts_with("x") || t.starts_with("X")) {
        base = 16;
        t.remove_prefix(1);
    } else if (t.starts_with("0x") || t.starts_with("0X")) {
        base = 16;
        t.remove_prefix(2);
    }
    if (t.empty()) return 0;
    uint64_t x = 0;
    auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), x, base);
    if (ec != std::errc() || p != t.data() + t.size()) return 0;
    if (base == 16) {
        if (x > 0xFFFFFFFFull) return 0;
        uint32_t u = static_cast<uint32_t>(x);
        return static_cast<int32_t>(negative ? 0u - u : u);
    }
    if (negative ? x > 2147483648ull : x > 2147483647ull) return 0;
    return negative ? static_cast<int32_t>(-static_cast<int64_t>(x)) : static_cast<int32_t>(x);
}

double StoredTextToFloat(std::string_view text) noexcept {
    std::string t(Trim(text));
    for (char& c : t)
        if (c == ',') c = '.';
    if (!t.empty() && t[0] == '+') t.erase(0, 1);
    double x = 0;
    auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), x);
    if (t.empty() || ec != std::errc() || p != t.data() + t.size()) return 0;
    return x;
}

std::string QualifiedComponentName(const TComponent* c, const TComponent* application) {
    if (!c) return {};
    if (application && c == application) return "Application";
    std::string name = c->Name();
    const TComponent* o = c->Owner();
    for (; o; o = o->Owner()) {
        if (application && o == application) return "Application." + name;
        name = o->Name() + "." + name;
    }
    return name;
}

// ---- custom property handlers ---------------------------------------------------------------

void RegisterCustomProp(std::string_view propName, TWregCustomPropFactory factory) {
    auto& r = CustomProps();
    std::lock_guard<std::mutex> g(r.lock);
    r.entries.emplace_back(LowerAscii(propName), factory);
}

std::vector<std::unique_ptr<TWregCustomProp>> CustomPropHandlers(std::string_view propName) {
    std::string key = LowerAscii(propName);
    std::vector<TWregCustomPropFactory> factories;
    {
        auto& r = CustomProps();
        std::lock_guard<std::mutex> g(r.lock);
        for (auto& [name, f] : r.entries)
            if (name == key) factories.push_back(f);
    }
    std::vector<std::unique_ptr<TWregCustomProp>> out;
    for (auto f : factories) out.push_back(f());
    return out;
}

// ---- classes --------------------------------------------------------------------------------

namespace {
constexpr std::string_view kRootNames[] = {"rrHKEY_CLASSES_ROOT",   "rrHKEY_CURRENT_USER",
                                           "rrHKEY_LOCAL_MACHINE",  "rrHKEY_USERS",
                                           "rrHKEY_CURRENT_CONFIG", "rrNone"};

} // namespace

constinit const TEnumType RegistryRootType{"TRegistryRoot", kRootNames};

constinit const TClassInfo TProxyCodeCustomObject::ClassInfo{
    "TProxyCodeCustomObject", &TComponent::ClassInfo, {}};

namespace {
TObject* WregComponentsList(const TPersistent& o) {
    return const_cast<TStringList*>(&static_cast<const TWreg&>(o).Components());
}
} // namespace

constinit const TPropInfo TWreg::PublishedProps[] = {
    PublishedEnum<&TWreg::RegistryRoot>("RegistryRoot", RegistryRootType),
    PublishedEnum<&TWreg::SecondRegistryRoot>("SecondRegistryRoot", RegistryRootType),
    Published<tkString, &TWreg::RegistryPath>("RegistryPath"),
    Published<tkString, &TWreg::INIFile>("INIFile"),
    Published<tkString, &TWreg::INIFileSectionPrefix>("INIFileSectionPrefix"),
    TPropInfo{.Name = "Components", .Kind = tkClass, .GetObj = WregComponentsList},
    TPropInfo{.Name = "SetValue", .Kind = tkMethod},
    TPropInfo{.Name = "GetValue", .Kind = tkMethod},
    TPropInfo{.Name = "BeforeProcessItem", .Kind = tkMethod},
};
constinit const TClassInfo TWreg::ClassInfo{"TWreg", &TComponent::ClassInfo, TWreg::PublishedProps};

TWreg::TWreg(TComponent* owner) : TComponent(owner) {}

// ---- stores ---------------------------------------------------------------------------------

// One place where values live: a registry key below the chosen root, or an INI section.
class TWreg::Store {
public:
    virtual ~Store() = default;
    // Selects the location of an entry; false when it cannot be opened (the entry is skipped).
    virtual bool Select(const std::vector<std::string>& subKeys, bool save) = 0;
    virtual bool Exists(const std::string& name) = 0;
    virtual int32_t ReadInteger(const std::string& name) = 0;
    virtual double ReadFloat(const std::string& name) = 0;
    virtual std::string ReadString(const std::string& name) = 0;
    virtual void WriteInteger(const std::string& name, int32_t v) = 0;
    virtual void WriteFloat(const std::string& name, double v) = 0;
    virtual void WriteString(const std::string& name, const std::string& v) = 0;
    virtual void Delete(const std::string& name) = 0;
    virtual bool IsRegistry() const = 0;
};

class TWreg::RegStore : public TWreg::Store {
public:
    RegStore(TRegRootKey root, std::string basePath) : reg_(root), base_(std::move(basePath)) {}
    bool Select(const std::vector<std::string>& subKeys, bool save) override {
        std::string key = base_;
        for (const auto& k : subKeys) key += "\\" + k;
        reg_.CloseKey();
        return reg_.OpenKey(key, save);
    }
    bool Exists(const std::string& name) override { return reg_.ValueExists(name); }
    int32_t ReadInteger(const std::string& name) override { return reg_.ReadInteger(name); }
    double ReadFloat(const std::string& name) override { return reg_.ReadFloat(name); }
    std::string ReadString(const std::string& name) override { return reg_.ReadString(name); }
    void WriteInteger(const std::string& name, int32_t v) override { reg_.WriteInteger(name, v); }
    void WriteFloat(const std::string& name, double v) override { reg_.WriteFloat(name, v); }
    void WriteString(const std::string& name, const std::string& v) override {
        reg_.WriteString(name, v);
    }
    void Delete(const std::string& name) override { reg_.DeleteValue(name); }
    bool IsRegistry() const override { return true; }

private:
    TRegistry reg_;
    std::string base_;
};

class TWreg::IniStore : public TWreg::Store {
public:
    IniStore(TIniFile& ini, std::string prefix) : ini_(ini), prefix_(std::move(prefix)) {}
    bool Select(const std::vector<std::string>& subKeys, bool) override {
        std::string section;
        for (const auto& k : subKeys) section += (section.empty() ? "" : "\\") + k;
        if (section.empty()) section = "Common";
        if (!prefix_.empty()) section = prefix_ + "." + section;
        for (char& c : section)
            if (c == '\\') c = '.';
        section_ = std::move(section);
        return true;
    }
    bool Exists(const std::string& name) override { return ini_.ValueExists(section_, name); }
    int32_t ReadInteger(const std::string& name) override {
        return StoredTextToInt(ini_.ReadString(section_, name, ""));
    }
    double ReadFloat(const std::string& name) override {
        return StoredTextToFloat(ini_.ReadString(section_, name, ""));
    }
    std::string ReadString(const std::string& name) override {
        return ini_.ReadString(section_, name, "");
    }
    void WriteInteger(const std::string& name, int32_t v) override {
        ini_.WriteString(section_, name, std::to_string(v));
    }
    void WriteFloat(const std::string& name, double v) override {
        ini_.WriteString(section_, name, FloatToText(v, FormatSettings()));
    }
    void WriteString(const std::string& name, const std::string& v) override {
        ini_.WriteString(section_, name, v);
    }
    void Delete(const std::string& name) override { ini_.DeleteKey(section_, name); }
    bool IsRegistry() const override { return false; }

private:
    TIniFile& ini_;
    std::string prefix_;
    std::string section_;
};

// ---- operations -----------------------------------------------------------------------------

bool TWreg::LoadProperties(TPersistent* root) {
    return Run(false, root);
}
bool TWreg::SaveProperties(TPersistent* root) {
    return Run(true, root);
}

bool TWreg::Run(bool save, TPersistent* root) {
    if (!root && Application && Application->ComponentCount() > 0)
        root = Application->Components(0);
    if (!INIFile.empty() && (save || PathExists(INIFile))) {
        TNamedLock lock(IniFileLockName(INIFile));
        TIniFile ini(INIFile); // read errors reach the caller
        IniStore store(ini, INIFileSectionPrefix);
        for (int i = 0; i < components_.Count(); ++i)
            ProcessEntry(store, save, root, i, components_[i]);
        ini.UpdateFile(); // errors writing back are ignored
        return true;
    }
    std::string path = RegistryPath;
    while (!path.empty() && path.front() == '\\') path.erase(0, 1);
    while (!path.empty() && path.back() == '\\') path.pop_back();
    if (RegistryRoot >= rrNone) return false;
    for (TRegistryRoot r : {RegistryRoot, SecondRegistryRoot}) {
        if (r >= rrNone) continue;
        TRegistry probe(static_cast<TRegRootKey>(r));
        if (!probe.OpenKey(path, save)) continue;
        RegStore store(static_cast<TRegRootKey>(r), path);
        for (int i = 0; i < components_.Count(); ++i)
            ProcessEntry(store, save, root, i, components_[i]);
        return true;
    }
    return false;
}

TComponent* TWreg::FindComponentByName(std::string_view name, TPersistent* root) const {
    auto walk = [](TComponent* from, std::string_view rest) -> TComponent* {
        while (from && !rest.empty()) {
            size_t dot = rest.find('.');
            from = from->FindComponent(rest.substr(0, dot));
            rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
        }
        return from;
    };
    std::string_view rest = name;
    bool fromApp = rest.size() > 12 && SameText(rest.substr(0, 12), "Application.");
    if (fromApp) rest.remove_prefix(12);
    auto* rootComp = dynamic_cast<TComponent*>(root);
    TComponent* found = walk(fromApp ? Application : rootComp, rest);
    if (!found && Application) found = walk(Application, rest);
    // Without an application object the outermost owner heads qualified names; resolve
    // such a name from that owner.
    if (!found && rootComp && !fromApp) {
        TComponent* top = rootComp;
        while (top->Owner()) top = top->Owner();
        size_t dot = rest.find('.');
        if (dot != std::string_view::npos && SameText(rest.substr(0, dot), top->Name()))
            found = walk(top, rest.substr(dot + 1));
    }
    return found;
}

TResolvedProperty TWreg::ResolvePropertyPath(std::string_view path, TPersistent* root) const {
    std::vector<std::string_view> names;
    for (size_t i = 0;;) {
        size_t dot = path.find('.', i);
        names.push_back(path.substr(i, dot == std::string_view::npos ? dot : dot - i));
        if (dot == std::string_view::npos) break;
        i = dot + 1;
    }
    size_t at = 0;
    TPersistent* start = root;
    if (names.size() > 2 && Application) {
        if (TComponent* form = Application->FindComponent(names[0])) {
            start = form;
            at = 1;
        }
    }
    TResolvedProperty r;
    if (auto* proxy = dynamic_cast<TProxyCodeCustomObject*>(start)) {
        for (size_t i = at; i < names.size(); ++i)
            r.Name += (i > at ? "_" : "") + std::string(names[i]);
        r.Object = proxy;
        r.Prop = GetPropInfo(*proxy, r.Name);
        r.Kind = r.Prop ? r.Prop->Kind : tkUnknown;
        return r;
    }
    TPersistent* current = start;
    if (names.size() - at > 1) {
        auto* comp = dynamic_cast<TComponent*>(current);
        current = comp ? comp->FindComponent(names[at]) : nullptr;
        ++at;
    }
    r.Name = std::string(names.back());
    if (!current) return r;
    for (; at < names.size(); ++at) {
        r.Name = std::string(names[at]);
        r.Prop = GetPropInfo(*current, names[at]);
        r.Object = current;
        if (!r.Prop) {
            r.Kind = tkUnknown;
            return r;
        }
        r.Kind = r.Prop->Kind;
        if (r.Kind == tkClass && at + 1 < names.size()) {
            auto* next = dynamic_cast<TPersistent*>(GetObjectProp(*current, *r.Prop));
            if (!next) {
                r = TResolvedProperty{nullptr, std::string(names.back()), tkUnknown, nullptr};
                return r;
            }
            current = next;
        }
    }
    return r;
}

void TWreg::ProcessEntry(Store& store, bool save, TPersistent* root, int index,
                         std::string_view rawLine) {
    try {
        std::string_view line = Trim(rawLine);
        if (line.empty() || line.front() == ';') return;
        size_t comma = line.find(',');
        std::string_view path = Trim(line.substr(0, comma));
        std::string_view valueSpec =
            comma == std::string_view::npos ? std::string_view() : Trim(line.substr(comma + 1));
        if (path.empty()) return;

        std::vector<std::string> parts;
        for (size_t i = 0; parts.size() < 255 && i <= valueSpec.size();) {
            size_t bs = valueSpec.find('\\', i);
            if (bs == std::string_view::npos) bs = valueSpec.size();
            std::string_view part = Trim(valueSpec.substr(i, bs - i));
            if (part.empty()) break;
            parts.emplace_back(part);
            i = bs + 1;
        }
        std::string valueName;
        if (!parts.empty()) {
            valueName = std::move(parts.back());
            parts.pop_back();
        }
        if (!store.Select(parts, save)) return;

        TResolvedProperty rp = ResolvePropertyPath(path, root);
        bool isVirtual = rp.Object == nullptr;
        bool isRequireProcessing = rp.Object != nullptr;
        TTypeKind kind = rp.Kind;
        if (BeforeProcessItem)
            BeforeProcessItem(*this, rp.Object ? rp.Name : std::string(), index,
                              isRequireProcessing, isVirtual, kind);
        if (!isRequireProcessing) return;

        if (kind == tkUnknown) {
            if (!rp.Object || rp.Name.empty() || rp.Name[0] != '*') return;
            std::string handlerName = rp.Name.substr(1);
            try {
                if (!save) {
                    Variant v(store.Exists(valueName) ? store.ReadString(valueName) : "");
                    for (auto& h : CustomPropHandlers(handlerName))
                        if (h->WriteValue(*rp.Object, v)) break;
                } else {
                    for (auto& h : CustomPropHandlers(handlerName)) {
                        Variant v;
                        if (!h->ReadValue(*rp.Object, v)) continue;
                        if (!Missing(v)) store.WriteString(valueName, v.ToStrLoose());
                        break;
                    }
                }
            } catch (...) {
                if (store.IsRegistry()) store.Delete(valueName);
            }
            return;
        }

        const TPropInfo* prop = isVirtual ? nullptr : rp.Prop;
        if (!isVirtual && !prop) return; // the hook made an unresolved entry real

        if (!save) {
            if (!store.Exists(valueName)) return;
            try {
                Variant value;
                if (kind == tkInteger)
                    value = Variant(store.ReadInteger(valueName));
                else if (kind == tkFloat)
                    value = Variant(store.ReadFloat(valueName));
                else if (IsTextKind(kind) || kind == tkEnumeration || kind == tkClass ||
                         kind == tkVariant)
                    value = Variant(store.ReadString(valueName));
                else
                    return;
                if (kind == tkClass && value.IsString() && value.StrView() == "[[Null]]")
                    value = Variant::Null();

                if (isVirtual) {
                    if (SetValue) {
                        if (value.IsString() && !value.StrView().empty())
                            value = Variant(DecodeStoredText(value.StrView()));
                        SetValue(*this, rp.Name, index, value);
                    }
                    return;
                }
                if (!prop->HasSetter() && kind != tkClass) return;
                TPersistent& obj = *rp.Object;
                switch (kind) {
                case tkInteger:
                    SetOrdProp(obj, *prop, value.ToInt64());
                    break;
                case tkFloat:
                    SetFloatProp(obj, *prop, value.ToDouble());
                    break;
                case tkVariant:
                    SetVariantProp(obj, *prop, value);
                    break;
                case tkChar:
                case tkWChar: {
                    std::string t = DecodeStoredText(value.StrView());
                    SetOrdProp(obj, *prop, t.empty() ? 0 : static_cast<unsigned char>(t[0]));
                    break;
                }
                case tkString:
                case tkLString:
                case tkWString:
                case tkUString:
                    SetStrProp(obj, *prop, DecodeStoredText(value.StrView()));
                    break;
                case tkEnumeration: {
                    std::string_view name = value.StrView();
                    if (name.empty()) break;
                    int64_t e = prop->EnumType ? GetEnumValue(*prop->EnumType, name) : -1;
                    if (e < 0)
                        throw EPropertyError("Invalid property element: " + std::string(name));
                    SetOrdProp(obj, *prop, e);
                    break;
                }
                case tkClass: {
                    TObject* current = GetObjectProp(obj, *prop);
                    if (auto* list = dynamic_cast<TStrings*>(current)) {
                        if (value.IsString()) list->SetText(DecodeStoredText(value.StrView()));
                        break;
                    }
                    if (value.IsNull() || value.StrView().empty()) {
                        if (rp.Name.find("Dock") == std::string::npos)
                            SetObjectProp(obj, *prop, nullptr);
                        break;
                    }
                    if (TComponent* c = FindComponentByName(value.StrView(), root))
                        SetObjectProp(obj, *prop, c);
                    break;
                }
                default:
                    break;
                }
            } catch (...) {
                if (store.IsRegistry()) store.Delete(valueName);
            }
            return;
        }

        // save
        Variant value;
        if (isVirtual) {
            if (GetValue) {
                GetValue(*this, rp.Name, index, value);
                if (value.IsString() && !value.StrView().empty())
                    value = Variant(EncodeStoredText(value.StrView()));
                else if (value.Kind() == varOleStr && !value.WideView().empty())
                    value = Variant(EncodeStoredText(value.ToStrLoose()));
            }
        } else {
            const TPersistent& obj = *rp.Object;
            switch (kind) {
            case tkInteger:
                value = Variant(GetOrdProp(obj, *prop));
                break;
            case tkFloat:
                value = Variant(GetFloatProp(obj, *prop));
                break;
            case tkVariant:
                value = GetVariantProp(obj, *prop);
                break;
            case tkChar:
            case tkWChar: {
                int64_t c = GetOrdProp(obj, *prop);
                std::string t;
                if (c < 0x80)
                    t = std::string(1, static_cast<char>(c));
                else
                    t = Variant::Wide(std::u16string(1, static_cast<char16_t>(c))).ToStrLoose();
                value = Variant(EncodeStoredText(t));
                break;
            }
            case tkString:
            case tkLString:
            case tkWString:
            case tkUString:
                value = Variant(EncodeStoredText(GetStrProp(obj, *prop)));
                break;
            case tkEnumeration:
                value =
                    Variant(prop->EnumType ? GetEnumName(*prop->EnumType, GetOrdProp(obj, *prop))
                                           : std::to_string(GetOrdProp(obj, *prop)));
                break;
            case tkClass: {
                TObject* o = GetObjectProp(obj, *prop);
                if (auto* list = dynamic_cast<TStrings*>(o))
                    value = Variant(EncodeStoredText(list->Text()));
                else if (auto* c = dynamic_cast<TComponent*>(o))
                    value = Variant(QualifiedComponentName(c, Application));
                else if (!o)
                    value = Variant::Null();
                break;
            }
            case tkSet:
            case tkMethod:
                value = Variant::Null();
                break;
            default:
                return; // kinds the store does not handle
            }
        }
        try {
            if (Missing(value))
                store.Delete(valueName);
            else if (kind == tkInteger)
                store.WriteInteger(valueName, value.ToInt());
            else if (kind == tkFloat)
                store.WriteFloat(valueName, value.ToDouble());
            else
                store.WriteString(valueName, value.ToStrLoose());
        } catch (...) {
            if (store.IsRegistry()) store.Delete(valueName);
        }
    } catch (...) {
        // Any other failure ends this entry only.
    }
}

} // namespace pt
