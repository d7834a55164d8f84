// The settings store: writes named published properties of live objects to the registry or to
// an INI file and reads them back. The property list (`Components`) holds one entry per line,
// "property path, value name"; paths are resolved from a root object through owned components
// and published properties (docs/reflection.md). Stored forms:
//   integer  REG_DWORD         | decimal text
//   float    REG_BINARY 8 B    | general float text with the locale's decimal separator
//   other    REG_SZ            | text (strings and string lists encoded, EncodeStoredText)
// A store object keeps only its settings between operations and is used by one thread at a
// time; INI operations hold the file's named inter-process lock from reading to writing back.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/Classes.h"
#include "script/runtime/fs_variant.h"

namespace pt {

enum TRegistryRoot : uint8_t {
    rrHKEY_CLASSES_ROOT,
    rrHKEY_CURRENT_USER,
    rrHKEY_LOCAL_MACHINE,
    rrHKEY_USERS,
    rrHKEY_CURRENT_CONFIG,
    rrNone,
};
extern const TEnumType RegistryRootType;

// Leading and trailing blanks become "+", "%" becomes "%%", "+" and the characters 0 to 31
// become "%" and two lower-case hex digits; everything else is copied.
std::string EncodeStoredText(std::string_view text);
// "%%" gives "%", "%" and two hex digits give that byte, "+" a blank; any other "%" stays.
std::string DecodeStoredText(std::string_view text);

// Text read from an INI file: integers also in hex after "$", "x" or "0x"; floats with "." or
// ","; a text that is no number reads as 0.
int32_t StoredTextToInt(std::string_view text) noexcept;
double StoredTextToFloat(std::string_view text) noexcept;

// "Application" for the application object; else the owner chain joined with "." (beginning
// with "Application." when the outermost owner is the application).
std::string QualifiedComponentName(const TComponent* c, const TComponent* application);

// A flat stand-in for a dialog: for such a root the whole property path, with every "."
// replaced by "_", names one published property of the object.
class TProxyCodeCustomObject : public TComponent {
    PT_PUBLISHED_CLASS;

public:
    using TComponent::TComponent;
};

class TWreg;
using TSetValueProc =
    std::function<void(TWreg& sender, const std::string& name, int index, const Variant& value)>;
using TGetValueProc =
    std::function<void(TWreg& sender, const std::string& name, int index, Variant& value)>;
using TBeforeProcessItemProc =
    std::function<void(TWreg& sender, const std::string& name, int index, bool& isRequireProcessing,
                       bool& isVirtual, TTypeKind& itemType)>;

// The outcome of resolving a property path.
struct TResolvedProperty {
    TPersistent* Object = nullptr; // none: the entry is virtual
    std::string Name;              // the last name (the property name)
    TTypeKind Kind = tkUnknown;
    const TPropInfo* Prop = nullptr;
};

class TWreg : public TComponent {
    PT_PUBLISHED_CLASS;

public:
    explicit TWreg(TComponent* owner = nullptr);

    TRegistryRoot RegistryRoot = rrHKEY_LOCAL_MACHINE;
    TRegistryRoot SecondRegistryRoot = rrHKEY_CURRENT_USER;
    std::string RegistryPath = "\\Software\\Company name\\App name";
    std::string INIFile;
    std::string INIFileSectionPrefix;
    TSetValueProc SetValue;
    TGetValueProc GetValue;
    TBeforeProcessItemProc BeforeProcessItem;
    // Stands in for the application object: its owned components are the application's forms,
    // the first of them the main form. None by default.
    TComponent* Application = nullptr;

    using TComponent::Components;
    TStringList& Components() noexcept { return components_; }
    const TStringList& Components() const noexcept { return components_; }

    // Return false only when the registry was chosen and no root key could be opened. Errors
    // reading the INI file are raised; errors of single entries are swallowed.
    bool LoadProperties(TPersistent* root);
    bool SaveProperties(TPersistent* root);

    TResolvedProperty ResolvePropertyPath(std::string_view path, TPersistent* root) const;

private:
    class Store;
    class IniStore;
    class RegStore;
    bool Run(bool save, TPersistent* root);
    void ProcessEntry(Store& store, bool save, TPersistent* root, int index, std::string_view line);
    TComponent* FindComponentByName(std::string_view name, TPersistent* root) const;

    TStringList components_;
};

// Custom property handlers: reached by entries whose last path name begins with "*" and names
// no published property; the rest of the name selects the handler (without regard to case).
class TWregCustomProp {
public:
    virtual ~TWregCustomProp() = default;
    // The object's value; false when this handler does not handle the object.
    virtual bool ReadValue(TObject& obj, Variant& value) = 0;
    // Puts the stored text into the object; false when this handler does not handle it.
    virtual bool WriteValue(TObject& obj, const Variant& value) = 0;
};
using TWregCustomPropFactory = std::unique_ptr<TWregCustomProp> (*)();

// Adds a handler class under a property name (stored lower-cased); process-wide, locked.
void RegisterCustomProp(std::string_view propName, TWregCustomPropFactory factory);
template <class T> void RegisterCustomProp(std::string_view propName) {
    RegisterCustomProp(propName,
                       []() -> std::unique_ptr<TWregCustomProp> { return std::make_unique<T>(); });
}
// New instances of the handlers registered under the name, in registration order.
std::vector<std::unique_ptr<TWregCustomProp>> CustomPropHandlers(std::string_view propName);

} // namespace pt
