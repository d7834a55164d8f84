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

// Weak: see LocaleDecimalSeparator.
const TFormatSettings& FormatSettings() noexcept __attribute__((weak));

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

struct StoreValue {
    enum Kind { Unassigned, Null, Int, Float, Text } kind = Unassigned;
    int64_t i = 0;
    double f = 0;
    std::string s;

    static StoreValue OfInt(int64_t v) { return {Int, v, 0, {}}; }
    static StoreValue OfFloat(double v) { return {Float, 0, v, {}}; }
    static StoreValue OfText(std::string v) { return {Text, 0, 0, std::move(v)}; }
    static StoreValue OfNull() { return {Null, 0, 0, {}}; }
    bool Missing() const noexcept { return kind == Unassigned || kind == Null; }
};

class EStoreConvert : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string WideToUtf8(std::u16string_view w) {
    std::string out;
    for (size_t i = 0; i < w.size(); ++i) {
        uint32_t c = w[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < w.size() && w[i + 1] >= 0xDC00 &&
            w[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (w[++i] - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;
        AppendUtf8(out, c);
    }
    return out;
}

// Only the inline parts of Variant are used here: the store needs scalars and texts.
StoreValue FromVariant(const Variant& v) {
    const PtValue& r = v.Raw();
    switch (r.vt) {
    case varEmpty:
        return {};
    case varNull:
        return StoreValue::OfNull();
    case varSmallint:
        return StoreValue::OfInt(r.u.i16);
    case varInteger:
        return StoreValue::OfInt(r.u.i32);
    case varShortInt:
        return StoreValue::OfInt(r.u.i8);
    case varByte:
        return StoreValue::OfInt(r.u.u8);
    case varWord:
        return StoreValue::OfInt(r.u.u16);
    case varLongWord:
        return StoreValue::OfInt(r.u.u32);
    case varInt64:
        return StoreValue::OfInt(r.u.i64);
    case varSingle:
        return StoreValue::OfFloat(r.u.f32);
    case varDouble:
    case varDate:
        return StoreValue::OfFloat(r.u.f64);
    case varCurrency:
        return StoreValue::OfFloat(static_cast<double>(r.u.i64) / 10000.0);
    case varBoolean:
        return StoreValue::OfText(r.u.boolean ? "True" : "False");
    case varString:
        return StoreValue::OfText(std::string(v.StrView()));
    case varOleStr:
        return StoreValue::OfText(WideToUtf8(v.WideView()));
    default:
        throw EStoreConvert("Unsupported value kind");
    }
}

Variant TextVariant(std::string_view s) {
    PtValue raw{};
    if (!pt_value_set_str(&raw, s.data(), static_cast<uint32_t>(s.size()))) throw std::bad_alloc();
    return Variant::Adopt(raw);
}

Variant ToVariant(const StoreValue& v) {
    switch (v.kind) {
    case StoreValue::Unassigned:
        return Variant();
    case StoreValue::Null: {
        PtValue raw{};
        raw.vt = varNull;
        return Variant::Adopt(raw);
    }
    case StoreValue::Int:
        return (v.i >= INT32_MIN && v.i <= INT32_MAX) ? Variant(static_cast<int32_t>(v.i))
                                                      : Variant(v.i);
    case StoreValue::Float:
        return Variant(v.f);
    case StoreValue::Text:
        return TextVariant(v.s);
    }
    return Variant();
}

// The platform's locale unit may be left out of a build (tests of the store alone); the
// conventional "." stands in then.
char LocaleDecimalSeparator() {
    return &FormatSettings ? FormatSettings().DecimalSeparator : '.';
}

std::string TextForm(const StoreValue& v) {
    switch (v.kind) {
    case StoreValue::Int:
        return std::to_string(v.i);
    case StoreValue::Float:
        return FloatToStoredText(v.f, LocaleDecimalSeparator());
    case StoreValue::Text:
        return v.s;
    default:
        return {};
    }
}

int64_t IntegerOf(const StoreValue& v) {
    switch (v.kind) {
    case StoreValue::Int:
        return v.i;
    case StoreValue::Float:
        if (!std::isfinite(v.f) || std::fabs(v.f) > 9.2e18) throw EStoreConvert("Invalid integer");
        return static_cast<int64_t>(std::nearbyint(v.f));
    case StoreValue::Text: {
        std::string_view t = Trim(v.s);
        int64_t x = 0;
        auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), x);
        if (t.empty() || ec != std::errc() || p != t.data() + t.size())
            throw EStoreConvert("'" + v.s + "' is not a valid integer value");
        return x;
    }
    default:
        throw EStoreConvert("Invalid integer");
    }
}

double FloatOf(const StoreValue& v) {
    switch (v.kind) {
    case StoreValue::Int:
        return static_cast<double>(v.i);
    case StoreValue::Float:
        return v.f;
    case StoreValue::Text: {
        std::string t(Trim(v.s));
        for (char& c : t)
            if (c == ',') c = '.';
        double x = 0;
        auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), x);
        if (t.empty() || ec != std::errc() || p != t.data() + t.size())
            throw EStoreConvert("'" + v.s + "' is not a valid floating point value");
        return x;
    }
    default:
        throw EStoreConvert("Invalid floating point value");
    }
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

std::string FloatToStoredText(double value, char decimalSeparator) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    if (value == 0) return "0";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", value); // d.dddddddddddddde[+-]x: 15 digits
    std::string_view s(buf);
    bool negative = s.front() == '-';
    if (negative) s.remove_prefix(1);
    size_t e = s.find('e');
    std::string digits;
    digits += s[0];
    digits += s.substr(2, e - 2);
    int exponent = std::atoi(buf + (negative ? 1 : 0) + e + 1);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    std::string out = negative ? "-" : "";
    if (exponent >= 15 || exponent < -5) {
        out += digits[0];
        if (digits.size() > 1) {
            out += decimalSeparator;
            out += digits.substr(1);
        }
        out += 'E';
        out += std::to_string(exponent);
    } else if (exponent < 0) {
        out += '0';
        out += decimalSeparator;
        out.append(static_cast<size_t>(-exponent - 1), '0');
        out += digits;
    } else {
        size_t intDigits = static_cast<size_t>(exponent) + 1;
        if (digits.size() <= intDigits) {
            out += digits;
            out.append(intDigits - digits.size(), '0');
        } else {
            out += digits.substr(0, intDigits);
            out += decimalSeparator;
            out += digits.substr(intDigits);
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
        ini_.WriteString(section_, name, FloatToStoredText(v, LocaleDecimalSeparator()));
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
            if (!save) {
                try {
                    std::string text = store.Exists(valueName) ? store.ReadString(valueName) : "";
                    Variant v = TextVariant(text);
                    for (auto& h : CustomPropHandlers(handlerName))
                        if (h->WriteValue(*rp.Object, v)) break;
                } catch (...) {
                    if (store.IsRegistry()) store.Delete(valueName);
                }
            } else {
                for (auto& h : CustomPropHandlers(handlerName)) {
                    Variant v;
                    if (!h->ReadValue(*rp.Object, v)) continue;
                    StoreValue sv = FromVariant(v);
                    if (!sv.Missing()) {
                        try {
                            store.WriteString(valueName, TextForm(sv));
                        } catch (...) {
                            if (store.IsRegistry()) store.Delete(valueName);
                        }
                    }
                    break;
                }
            }
            return;
        }

        const TPropInfo* prop = isVirtual ? nullptr : rp.Prop;
        if (!isVirtual && !prop) return; // the hook made an unresolved entry real

        if (!save) {
            if (!store.Exists(valueName)) return;
            try {
                StoreValue value;
                if (kind == tkInteger)
                    value = StoreValue::OfInt(store.ReadInteger(valueName));
                else if (kind == tkFloat)
                    value = StoreValue::OfFloat(store.ReadFloat(valueName));
                else if (IsTextKind(kind) || kind == tkEnumeration || kind == tkClass ||
                         kind == tkVariant)
                    value = StoreValue::OfText(store.ReadString(valueName));
                else
                    return;
                if (kind == tkClass && value.s == "[[Null]]") value = StoreValue::OfNull();

                if (isVirtual) {
                    if (SetValue) {
                        if (value.kind == StoreValue::Text && !value.s.empty())
                            value.s = DecodeStoredText(value.s);
                        SetValue(*this, rp.Name, index, ToVariant(value));
                    }
                    return;
                }
                if (!prop->HasSetter() && kind != tkClass) return;
                TPersistent& obj = *rp.Object;
                switch (kind) {
                case tkInteger:
                    SetOrdProp(obj, *prop, IntegerOf(value));
                    break;
                case tkFloat:
                    SetFloatProp(obj, *prop, FloatOf(value));
                    break;
                case tkVariant:
                    SetVariantProp(obj, *prop, ToVariant(value));
                    break;
                case tkChar:
                case tkWChar: {
                    std::string t = DecodeStoredText(value.s);
                    SetOrdProp(obj, *prop, t.empty() ? 0 : static_cast<unsigned char>(t[0]));
                    break;
                }
                case tkString:
                case tkLString:
                case tkWString:
                case tkUString:
                    SetStrProp(obj, *prop, DecodeStoredText(value.s));
                    break;
                case tkEnumeration: {
                    if (value.s.empty()) break;
                    int64_t e = prop->EnumType ? GetEnumValue(*prop->EnumType, value.s) : -1;
                    if (e < 0) throw EPropertyError("Invalid property element: " + value.s);
                    SetOrdProp(obj, *prop, e);
                    break;
                }
                case tkClass: {
                    TObject* current = GetObjectProp(obj, *prop);
                    if (auto* list = dynamic_cast<TStrings*>(current)) {
                        if (value.kind == StoreValue::Text)
                            list->SetText(DecodeStoredText(value.s));
                        break;
                    }
                    if (value.kind == StoreValue::Null || value.s.empty()) {
                        if (rp.Name.find("Dock") == std::string::npos)
                            SetObjectProp(obj, *prop, nullptr);
                        break;
                    }
                    if (TComponent* c = FindComponentByName(value.s, root))
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
        StoreValue value;
        if (isVirtual) {
            if (GetValue) {
                Variant v;
                GetValue(*this, rp.Name, index, v);
                value = FromVariant(v);
                if (value.kind == StoreValue::Text && !value.s.empty())
                    value.s = EncodeStoredText(value.s);
            }
        } else {
            const TPersistent& obj = *rp.Object;
            switch (kind) {
            case tkInteger:
                value = StoreValue::OfInt(GetOrdProp(obj, *prop));
                break;
            case tkFloat:
                value = StoreValue::OfFloat(GetFloatProp(obj, *prop));
                break;
            case tkVariant:
                value = FromVariant(GetVariantProp(obj, *prop));
                break;
            case tkChar:
            case tkWChar: {
                int64_t c = GetOrdProp(obj, *prop);
                std::string t;
                if (c < 0x80)
                    t = std::string(1, static_cast<char>(c));
                else
                    AppendUtf8(t, static_cast<uint32_t>(c));
                value = StoreValue::OfText(EncodeStoredText(t));
                break;
            }
            case tkString:
            case tkLString:
            case tkWString:
            case tkUString:
                value = StoreValue::OfText(EncodeStoredText(GetStrProp(obj, *prop)));
                break;
            case tkEnumeration:
                value = StoreValue::OfText(
                    prop->EnumType ? GetEnumName(*prop->EnumType, GetOrdProp(obj, *prop))
                                   : std::to_string(GetOrdProp(obj, *prop)));
                break;
            case tkClass: {
                TObject* o = GetObjectProp(obj, *prop);
                if (auto* list = dynamic_cast<TStrings*>(o))
                    value = StoreValue::OfText(EncodeStoredText(list->Text()));
                else if (auto* c = dynamic_cast<TComponent*>(o))
                    value = StoreValue::OfText(QualifiedComponentName(c, Application));
                else if (!o)
                    value = StoreValue::OfNull();
                break;
            }
            case tkSet:
            case tkMethod:
                value = StoreValue::OfNull();
                break;
            default:
                return; // kinds the store does not handle
            }
        }
        try {
            if (value.Missing())
                store.Delete(valueName);
            else if (kind == tkInteger)
                store.WriteInteger(valueName, static_cast<int32_t>(IntegerOf(value)));
            else if (kind == tkFloat)
                store.WriteFloat(valueName, FloatOf(value));
            else
                store.WriteString(valueName, TextForm(value));
        } catch (...) {
            if (store.IsRegistry()) store.Delete(valueName);
        }
    } catch (...) {
        // Any other failure ends this entry only.
    }
}

} // namespace pt
