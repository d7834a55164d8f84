#include "script/runtime/fs_isysrtti.h"

#include "script/runtime/fs_sysfuncs.h"

#include <atomic>

namespace pt {

namespace {

std::atomic<TfsElementHelperFactory> g_stringHelper{nullptr};
std::atomic<TfsElementHelperFactory> g_arrayHelper{nullptr};

struct KindConst {
    const char* Name;
    int32_t Value;
};

const KindConst kKindConsts[] = {
    {"varEmpty", varEmpty},       {"varNull", varNull},         {"varSmallint", varSmallint},
    {"varInteger", varInteger},   {"varSingle", varSingle},     {"varDouble", varDouble},
    {"varCurrency", varCurrency}, {"varDate", varDate},         {"varOleStr", varOleStr},
    {"varDispatch", varDispatch}, {"varError", varError},       {"varBoolean", varBoolean},
    {"varVariant", varVariant},   {"varUnknown", varUnknown},   {"varShortInt", varShortInt},
    {"varByte", varByte},         {"varWord", varWord},         {"varLongWord", varLongWord},
    {"varInt64", varInt64},       {"varStrArg", varStrArg},     {"varString", varString},
    {"varAny", varAny},           {"varTypeMask", varTypeMask}, {"varArray", varArray},
    {"varByRef", varByRef},
};

// The module is first in RegisteredModules.
const TfsModuleRegistration<TfsSysFunctions> g_registration("TfsSysFunctions", true);

} // namespace

void SetElementHelperFactories(TfsElementHelperFactory stringHelper,
                               TfsElementHelperFactory arrayHelper) noexcept {
    g_stringHelper.store(stringHelper);
    g_arrayHelper.store(arrayHelper);
}

TfsSysFunctions::TfsSysFunctions(TfsScript* script) : TfsRTTIModule(script) {
    TfsScript& s = *script;
    for (const char* name :
         {"Byte", "Word", "Integer", "Longint", "Cardinal", "TColor", "TAlphaColor"})
        s.DeclareType(name, fvtInt);
    s.DeclareType("Boolean", fvtBool);
    for (const char* name :
         {"Real", "Single", "Double", "Extended", "Currency", "TDate", "TTime", "TDateTime"})
        s.DeclareType(name, fvtFloat);
    s.DeclareType("Char", fvtChar);
    s.DeclareType("String", fvtString);
    s.DeclareType("Variant", fvtVariant);
    s.DeclareType("Pointer", fvtVariant);
    s.DeclareType("Array", fvtArray);
    s.DeclareType("Constructor", fvtConstructor);

    s.DeclareConst("True", "Boolean", Variant(true));
    s.DeclareConst("False", "Boolean", Variant(false));
    s.DeclareConst("nil", "Variant", Variant::Byte(0));
    s.DeclareConst("Null", "Variant", Variant::Null());
    s.DeclareVariable("ExceptionClassName", "String", Variant(""));
    s.DeclareVariable("ExceptionMessage", "String", Variant(""));

    if (TfsElementHelperFactory make = g_stringHelper.load()) s.AddItem("__StringHelper", make());
    if (TfsElementHelperFactory make = g_arrayHelper.load()) s.AddItem("__ArrayHelper", make());

    int count = 0;
    const TSysFunctionDef* table = SysFunctionTable(count);
    for (int i = 0; i < count; ++i) {
        TSysFunctionBody body = table[i].Body;
        s.DeclareMethod(
            table[i].Prototype,
            TfsHelperCallEvent([body](void*, TfsClassRef, std::string_view, TfsCallFrame& caller) {
                return body(&caller.Slot(0));
            }),
            table[i].Category);
    }

    for (const KindConst& k : kKindConsts) s.DeclareConst(k.Name, "Integer", Variant(k.Value));
}

} // namespace pt
