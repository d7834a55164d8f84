// Published-property metadata: the one reflection layer of the system. A class derived from
// TPersistent describes its published properties in a static table (TPropInfo) attached to
// its TClassInfo; the settings store, the translator, the script classes and the dialog find
// and access properties through the functions below, by name and without regard to case.
//
// Invariants: a property's accessors belong to the family of its kind (see TPropInfo); a null
// setter means the property is read-only. Tables are constant data (constinit-able), so
// they are usable from any thread and during static initialisation.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "script/runtime/fs_variant.h"

namespace pt {

class TObject;
class TPersistent;

// The classic run-time type kinds, in their classic order.
enum TTypeKind : uint8_t {
    tkUnknown,
    tkInteger,
    tkChar,
    tkEnumeration,
    tkFloat,
    tkString,
    tkSet,
    tkClass,
    tkMethod,
    tkWChar,
    tkLString,
    tkWString,
    tkVariant,
    tkArray,
    tkRecord,
    tkInterface,
    tkInt64,
    tkDynArray,
    tkUString,
};

// "tkInteger", ... ("tkUnknown" for values outside the enumeration).
const char* TypeKindName(TTypeKind kind) noexcept;

// An enumeration type: its name and the identifiers of its values 0..Names.size()-1.
struct TEnumType {
    std::string_view Name;
    std::span<const std::string_view> Names;
};
extern const TEnumType BooleanType; // False, True

// The name of an enumeration value; empty when out of range.
std::string GetEnumName(const TEnumType& type, int64_t value);
// The value of an identifier (case-insensitive); -1 when the type has no such value.
int64_t GetEnumValue(const TEnumType& type, std::string_view name);

class EPropertyError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TClassInfo;

// One published property. Accessor families by kind:
//   ordinal (tkInteger, tkChar, tkWChar, tkEnumeration, tkSet, tkInt64): GetOrd / SetOrd
//   tkFloat: GetFloat / SetFloat
//   strings (tkString, tkLString, tkWString, tkUString): GetStr / SetStr (UTF-8)
//   tkClass: GetObj / SetObj (SetObj null for a read-only reference to an owned object)
//   tkVariant: GetVar / SetVar
//   tkMethod: no accessors (listed only)
struct TPropInfo {
    std::string_view Name;
    TTypeKind Kind = tkUnknown;
    const TEnumType* EnumType = nullptr;   // tkEnumeration
    const TClassInfo* PropClass = nullptr; // tkClass: the declared class of the value
    int64_t (*GetOrd)(const TPersistent&) = nullptr;
    void (*SetOrd)(TPersistent&, int64_t) = nullptr;
    double (*GetFloat)(const TPersistent&) = nullptr;
    void (*SetFloat)(TPersistent&, double) = nullptr;
    std::string (*GetStr)(const TPersistent&) = nullptr;
    void (*SetStr)(TPersistent&, const std::string&) = nullptr;
    TObject* (*GetObj)(const TPersistent&) = nullptr;
    void (*SetObj)(TPersistent&, TObject*) = nullptr;
    Variant (*GetVar)(const TPersistent&) = nullptr;
    void (*SetVar)(TPersistent&, const Variant&) = nullptr;

    bool HasSetter() const noexcept { return SetOrd || SetFloat || SetStr || SetObj || SetVar; }
};

// A class: its name, its ancestor and the properties it publishes itself.
struct TClassInfo {
    std::string_view Name;
    const TClassInfo* Parent = nullptr;
    std::span<const TPropInfo> Props;

    bool InheritsFrom(const TClassInfo& other) const noexcept;
};

// Finds a published property along the ancestor chain (the most derived declaration wins).
const TPropInfo* GetPropInfo(const TClassInfo& cls, std::string_view name) noexcept;
const TPropInfo* GetPropInfo(const TPersistent& obj, std::string_view name) noexcept;
// Every published property, ancestors' first; a redeclared name appears once.
std::vector<const TPropInfo*> GetPropList(const TClassInfo& cls);

// Typed access. Each raises EPropertyError when the property's kind belongs to another family
// or, for the setters, when the property is read-only.
int64_t GetOrdProp(const TPersistent& obj, const TPropInfo& prop);
void SetOrdProp(TPersistent& obj, const TPropInfo& prop, int64_t value);
double GetFloatProp(const TPersistent& obj, const TPropInfo& prop);
void SetFloatProp(TPersistent& obj, const TPropInfo& prop, double value);
std::string GetStrProp(const TPersistent& obj, const TPropInfo& prop);
void SetStrProp(TPersistent& obj, const TPropInfo& prop, const std::string& value);
TObject* GetObjectProp(const TPersistent& obj, const TPropInfo& prop);
// Raises also when `value` is not null and not of the property's declared class.
void SetObjectProp(TPersistent& obj, const TPropInfo& prop, TObject* value);
Variant GetVariantProp(const TPersistent& obj, const TPropInfo& prop);
void SetVariantProp(TPersistent& obj, const TPropInfo& prop, const Variant& value);

// ---- declaring tables -----------------------------------------------------------------------
//
// Entries are made from member pointers; the class is taken from the pointer's type:
//   Published<tkInteger, &T::FTop>("Top")                 read/write field
//   Published<tkInteger, &T::GetTop, &T::SetTop>("Top")   getter and setter
//   Published<tkClass, &T::GetLines>("Lines")             read-only (getter, no setter)
//   PublishedEnum<&T::FState>("State", StateType)
// A getter is a const member function without parameters; a setter takes one parameter.
// Ordinal values may be any integral or enumeration type; tkClass values pointers to a
// class derived from TObject.

namespace typinfo_detail {

template <class M> struct MemberOf;
template <class C, class R> struct MemberOf<R C::*> { using Class = C; };
template <class C, class R> struct MemberOf<R (C::*)() const> { using Class = C; };
template <class C, class R> struct MemberOf<R (C::*)() const noexcept> { using Class = C; };
template <class C, class A> struct MemberOf<void (C::*)(A)> { using Class = C; };
template <class C, class A> struct MemberOf<void (C::*)(A) noexcept> { using Class = C; };

template <auto Get> decltype(auto) Read(const TPersistent& o) {
    using C = typename MemberOf<decltype(Get)>::Class;
    const C& self = static_cast<const C&>(o);
    if constexpr (std::is_member_function_pointer_v<decltype(Get)>)
        return (self.*Get)();
    else
        return (self.*Get);
}

template <auto Get, auto Set, class V> void Write(TPersistent& o, V&& v) {
    if constexpr (std::is_member_function_pointer_v<decltype(Set)>) {
        using C = typename MemberOf<decltype(Set)>::Class;
        (static_cast<C&>(o).*Set)(std::forward<V>(v));
    } else {
        using C = typename MemberOf<decltype(Get)>::Class;
        static_cast<C&>(o).*Get = std::forward<V>(v);
    }
}

template <auto Get, auto Set> constexpr bool Writable() {
    return !std::is_same_v<decltype(Set), std::nullptr_t> ||
           std::is_member_object_pointer_v<decltype(Get)>;
}

template <class T> using Plain = std::remove_cvref_t<T>;

} // namespace typinfo_detail

template <TTypeKind Kind, auto Get, auto Set = nullptr>
constexpr TPropInfo Published(std::string_view name, const TClassInfo* propClass = nullptr) {
    namespace d = typinfo_detail;
    TPropInfo p;
    p.Name = name;
    p.Kind = Kind;
    p.PropClass = propClass;
    constexpr bool w = d::Writable<Get, Set>();
    using V = d::Plain<decltype(d::Read<Get>(std::declval<const TPersistent&>()))>;
    if constexpr (Kind == tkInteger || Kind == tkChar || Kind == tkWChar || Kind == tkEnumeration ||
                  Kind == tkSet || Kind == tkInt64) {
        p.GetOrd = [](const TPersistent& o) -> int64_t {
            return static_cast<int64_t>(d::Read<Get>(o));
        };
        if constexpr (w)
            p.SetOrd = [](TPersistent& o, int64_t v) { d::Write<Get, Set>(o, static_cast<V>(v)); };
    } else if constexpr (Kind == tkFloat) {
        p.GetFloat = [](const TPersistent& o) -> double {
            return static_cast<double>(d::Read<Get>(o));
        };
        if constexpr (w)
            p.SetFloat = [](TPersistent& o, double v) { d::Write<Get, Set>(o, static_cast<V>(v)); };
    } else if constexpr (Kind == tkString || Kind == tkLString || Kind == tkWString ||
                         Kind == tkUString) {
        p.GetStr = [](const TPersistent& o) -> std::string { return std::string(d::Read<Get>(o)); };
        if constexpr (w)
            p.SetStr = [](TPersistent& o, const std::string& v) { d::Write<Get, Set>(o, v); };
    } else if constexpr (Kind == tkClass) {
        static_assert(std::is_pointer_v<V>, "a class-typed property yields a pointer");
        p.GetObj = [](const TPersistent& o) -> TObject* {
            return const_cast<TObject*>(static_cast<const TObject*>(d::Read<Get>(o)));
        };
        if constexpr (w)
            p.SetObj = [](TPersistent& o, TObject* v) {
                V typed = dynamic_cast<V>(v);
                if (v && !typed) throw EPropertyError("Invalid property value");
                d::Write<Get, Set>(o, typed);
            };
    } else if constexpr (Kind == tkVariant) {
        p.GetVar = [](const TPersistent& o) -> Variant { return Variant(d::Read<Get>(o)); };
        if constexpr (w)
            p.SetVar = [](TPersistent& o, const Variant& v) { d::Write<Get, Set>(o, v); };
    }
    return p;
}

template <auto Get, auto Set = nullptr>
constexpr TPropInfo PublishedEnum(std::string_view name, const TEnumType& type) {
    TPropInfo p = Published<tkEnumeration, Get, Set>(name);
    p.EnumType = &type;
    return p;
}

} // namespace pt

// Declares the class's run-time information inside a class derived from TObject. Place it
// first in the class body; it leaves the access at private. The .cpp then defines
//   constinit const TPropInfo TFoo::PublishedProps[] = {Published<...>("..."), ...};
//   constinit const TClassInfo TFoo::ClassInfo{"TFoo", &TBase::ClassInfo, TFoo::PublishedProps};
// (a class without properties leaves PublishedProps undefined and passes {}).
#define PT_PUBLISHED_CLASS                                                                         \
public:                                                                                            \
    static const ::pt::TClassInfo ClassInfo;                                                       \
    const ::pt::TClassInfo& ClassType() const noexcept override {                                  \
        return ClassInfo;                                                                          \
    }                                                                                              \
                                                                                                   \
private:                                                                                           \
    static const ::pt::TPropInfo PublishedProps[]
