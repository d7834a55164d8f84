#include "common/TypInfo.h"

#include "common/Classes.h"

namespace pt {

namespace {

constexpr std::string_view kBooleanNames[] = {"False", "True"};

constexpr const char* kKindNames[] = {
    "tkUnknown", "tkInteger",   "tkChar",  "tkEnumeration", "tkFloat",   "tkString",  "tkSet",
    "tkClass",   "tkMethod",    "tkWChar", "tkLString",     "tkWString", "tkVariant", "tkArray",
    "tkRecord",  "tkInterface", "tkInt64", "tkDynArray",    "tkUString"};

[[noreturn]] void WrongKind(const TPropInfo& prop) {
    throw EPropertyError("Invalid property type: " + std::string(prop.Name));
}

[[noreturn]] void ReadOnly(const TPropInfo& prop) {
    throw EPropertyError("Property " + std::string(prop.Name) + " is read-only");
}

} // namespace

constinit const TEnumType BooleanType{"Boolean", kBooleanNames};

const char* TypeKindName(TTypeKind kind) noexcept {
    return kind <= tkUString ? kKindNames[kind] : kKindNames[0];
}

std::string GetEnumName(const TEnumType& type, int64_t value) {
    if (value < 0 || value >= static_cast<int64_t>(type.Names.size())) return {};
    return std::string(type.Names[static_cast<size_t>(value)]);
}

int64_t GetEnumValue(const TEnumType& type, std::string_view name) {
    for (size_t i = 0; i < type.Names.size(); ++i)
        if (IsSameText(type.Names[i], name)) return static_cast<int64_t>(i);
    return -1;
}

bool TClassInfo::InheritsFrom(const TClassInfo& other) const noexcept {
    for (const TClassInfo* c = this; c; c = c->Parent)
        if (c == &other) return true;
    return false;
}

const TPropInfo* GetPropInfo(const TClassInfo& cls, std::string_view name) noexcept {
    for (const TClassInfo* c = &cls; c; c = c->Parent)
        for (const TPropInfo& p : c->Props)
            if (IsSameText(p.Name, name)) return &p;
    return nullptr;
}

const TPropInfo* GetPropInfo(const TPersistent& obj, std::string_view name) noexcept {
    return GetPropInfo(obj.ClassType(), name);
}

std::vector<const TPropInfo*> GetPropList(const TClassInfo& cls) {
    std::vector<const TClassInfo*> chain;
    for (const TClassInfo* c = &cls; c; c = c->Parent) chain.push_back(c);
    std::vector<const TPropInfo*> out;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        for (const TPropInfo& p : (*it)->Props) {
            bool replaced = false;
            for (auto& q : out)
                if (IsSameText(q->Name, p.Name)) q = &p, replaced = true;
            if (!replaced) out.push_back(&p);
        }
    return out;
}

int64_t GetOrdProp(const TPersistent& obj, const TPropInfo& prop) {
    if (!prop.GetOrd) WrongKind(prop);
    return prop.GetOrd(obj);
}

void SetOrdProp(TPersistent& obj, const TPropInfo& prop, int64_t value) {
    if (!prop.GetOrd) WrongKind(prop);
    if (!prop.SetOrd) ReadOnly(prop);
    prop.SetOrd(obj, value);
}

double GetFloatProp(const TPersistent& obj, const TPropInfo& prop) {
    if (!prop.GetFloat) WrongKind(prop);
    return prop.GetFloat(obj);
}

void SetFloatProp(TPersistent& obj, const TPropInfo& prop, double value) {
    if (!prop.GetFloat) WrongKind(prop);
    if (!prop.SetFloat) ReadOnly(prop);
    prop.SetFloat(obj, value);
}

std::string GetStrProp(const TPersistent& obj, const TPropInfo& prop) {
    if (!prop.GetStr) WrongKind(prop);
    return prop.GetStr(obj);
}

void SetStrProp(TPersistent& obj, const TPropInfo& prop, const std::string& value) {
    if (!prop.GetStr) WrongKind(prop);
    if (!prop.SetStr) ReadOnly(prop);
    prop.SetStr(obj, value);
}

TObject* GetObjectProp(const TPersistent& obj, const TPropInfo& prop) {
    if (!prop.GetObj) WrongKind(prop);
    return prop.GetObj(obj);
}

void SetObjectProp(TPersistent& obj, const TPropInfo& prop, TObject* value) {
    if (!prop.GetObj) WrongKind(prop);
    if (!prop.SetObj) ReadOnly(prop);
    if (value && prop.PropClass && !value->InheritsFrom(*prop.PropClass))
        throw EPropertyError("Invalid property value");
    prop.SetObj(obj, value);
}

Variant GetVariantProp(const TPersistent& obj, const TPropInfo& prop) {
    if (!prop.GetVar) WrongKind(prop);
    return prop.GetVar(obj);
}

void SetVariantProp(TPersistent& obj, const TPropInfo& prop, const Variant& value) {
    if (!prop.GetVar) WrongKind(prop);
    if (!prop.SetVar) ReadOnly(prop);
    prop.SetVar(obj, value);
}

} // namespace pt
