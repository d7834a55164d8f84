#include "script/runtime/fs_errors.h"
#include "script/runtime/fs_iinterpreter.h"

#include "model_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace pt {
namespace {

// Calls item through a frame as the evaluator does; args come back with var parameters set.
Variant CallItem(TfsCustomVariable* item, std::vector<Variant>& args,
                 const Variant& parent = TfsCallFrame::NullValue()) {
    const int n = item->ParamCount();
    TfsArgSlots slots(n);
    for (int i = 0; i < n && i < static_cast<int>(args.size()); ++i) slots.Data()[i] = args[i];
    TfsCallFrame frame(item, slots.Data(), n);
    frame.ParentValue = &parent;
    Variant result = item->ReadCall(frame);
    args.assign(slots.Data(), slots.Data() + n);
    return result;
}

Variant CallItem(TfsCustomVariable* item, std::initializer_list<Variant> args) {
    std::vector<Variant> a(args);
    return CallItem(item, a);
}

TfsHelperCallEvent Returns(int32_t value) {
    return
        [value](TObject*, TfsClassRef, std::string_view, TfsCallFrame&) { return Variant(value); };
}

class ScopeTest : public ::testing::Test {
protected:
    ScopeTest() {
        test::DeclareBasicTypes(global);
        script.Parent = &global;
    }
    TfsScript global, script;
};

// ---- the item table ------------------------------------------------------------------------

TEST_F(ScopeTest, LaterOfTwoFunctionsOfOneNameWins) {
    script.DeclareMethod("function Twice: Integer", Returns(1));
    script.DeclareMethod("function TWICE: Integer", Returns(2));
    TfsCustomVariable* found = script.Lookup("twice");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(CallItem(found, {}).ToInt(), 2);
    EXPECT_EQ(found->ReadValue().ToInt(), 2);
    script.DeclareMethod("function Twice: Integer", Returns(3));
    EXPECT_EQ(CallItem(script.Lookup("Twice"), {}).ToInt(), 3);
}

TEST_F(ScopeTest, TableIsSortedCaseInsensitivelyAndSearchesWalkTheParents) {
    for (const char* n : {"delta", "Alpha", "charlie", "BRAVO"})
        script.AddItem(n, new TfsVariable(n, fvtInt, "Integer"));
    std::vector<std::string> order;
    for (int i = 0; i < script.ItemCount(); ++i)
        order.push_back(script.ItemAt(i)->AsVariable()->Name());
    EXPECT_EQ(order, (std::vector<std::string>{"Alpha", "BRAVO", "charlie", "delta"}));

    EXPECT_EQ(script.LookupLocal("ALPHA")->Name(), "Alpha");
    EXPECT_EQ(script.LookupLocal("Integer"), nullptr);
    EXPECT_EQ(script.Lookup("integer")->TypeCode, fvtInt);
    EXPECT_EQ(script.Lookup("nowhere"), nullptr);
    EXPECT_EQ(TypeCodeOf("nowhere", &script), fvtClass);
    EXPECT_EQ(TypeCodeOf("STRING", &script), fvtString);
}

TEST_F(ScopeTest, AnonymousEntriesAndModulesAreNotFoundByName) {
    struct Module : TfsRTTIModule {
        using TfsRTTIModule::TfsRTTIModule;
    };
    script.AddItem("", new Module(&script));
    EXPECT_EQ(script.LookupLocal(""), nullptr);
    script.AddItem("", new TfsVariable("", fvtVariant, ""));
    EXPECT_NE(script.LookupLocal(""), nullptr);
}

TEST_F(ScopeTest, ItemNameMayDifferFromTheTableName) {
    script.AddItem("Alias", new TfsVariable("Real", fvtInt, "Integer"));
    EXPECT_EQ(script.LookupLocal("alias")->Name(), "Real");
    EXPECT_EQ(script.LookupLocal("Real"), nullptr);
}

// ---- registration ----------------------------------------------------------------------------

TEST_F(ScopeTest, DeclareTypeConstVariableKeepAnExistingVisibleName) {
    const int before = script.ItemCount();
    script.DeclareType("Integer", fvtString);
    script.DeclareConst("True", "Integer", Variant(int32_t(5)));
    script.DeclareVariable("String", "Integer", Variant(int32_t(5)));
    EXPECT_EQ(script.ItemCount(), before);
    EXPECT_EQ(script.Lookup("Integer")->TypeCode, fvtInt);
}

TEST_F(ScopeTest, DeclareConstConvertsByTypeAndIsReadOnly) {
    script.DeclareConst("Answer", "Integer", Variant("42"));
    TfsCustomVariable* c = script.LookupLocal("Answer");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->Value.Kind(), varInteger);
    EXPECT_EQ(c->Value.ToInt(), 42);
    EXPECT_TRUE(c->ReadOnly);
    c->WriteValue(Variant(int32_t(7)));
    EXPECT_EQ(c->ReadValue().ToInt(), 42);
}

TEST_F(ScopeTest, DeclareConstThatDoesNotConvertAddsNothing) {
    const int before = script.ItemCount();
    EXPECT_THROW(script.DeclareConst("Bad", "Integer", Variant("x")), EScriptError);
    EXPECT_THROW(script.DeclareVariable("Bad", "Integer", Variant::Null()), EScriptError);
    EXPECT_EQ(script.ItemCount(), before);
}

TEST_F(ScopeTest, DeclareVariableIsWritableAndConvertsWhatItStores) {
    script.DeclareVariable("Count", "Integer", Variant(int32_t(1)));
    TfsCustomVariable* v = script.LookupLocal("Count");
    v->WriteValue(Variant("12"));
    EXPECT_EQ(v->ReadValue().Kind(), varInteger);
    EXPECT_EQ(v->ReadValue().ToInt(), 12);
    EXPECT_THROW(v->WriteValue(Variant("x")), EScriptError);
    EXPECT_EQ(v->ReadValue().ToInt(), 12);
}

TEST_F(ScopeTest, EnumAndEnumSetValues) {
    script.DeclareEnum("TAlign", "alLeft, alRight ,alNone");
    script.DeclareEnumSet("TShiftState", "ssShift, ssAlt, ssCtrl");
    const struct {
        const char* name;
        int32_t value;
        const char* type;
    } expected[] = {{"alLeft", 0, "TAlign"},     {"alRight", 1, "TAlign"},
                    {"alNone", 2, "TAlign"},     {"ssShift", 1, "TShiftState"},
                    {"ssAlt", 2, "TShiftState"}, {"ssCtrl", 4, "TShiftState"}};
    for (const auto& e : expected) {
        SCOPED_TRACE(e.name);
        TfsCustomVariable* v = script.LookupLocal(e.name);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->Value.Kind(), varInteger);
        EXPECT_EQ(v->Value.ToInt(), e.value);
        EXPECT_EQ(v->TypeCode, fvtEnum);
        EXPECT_EQ(v->TypeName, e.type);
        EXPECT_TRUE(v->ReadOnly);
    }
    TfsCustomVariable* type = script.LookupLocal("TShiftState");
    EXPECT_EQ(type->TypeCode, fvtEnum);
    EXPECT_TRUE(type->Value.IsNull());
    EXPECT_EQ(TypeCodeOf("TShiftState", &script), fvtEnum);
}

TEST_F(ScopeTest, DeclareMethodFillsCategoryAndDescription) {
    TfsMethodHelper* a = script.DeclareMethod("function A: Integer", Returns(1), "ctMisc");
    TfsMethodHelper* b = script.DeclareMethod("function B: Integer", Returns(1), "", "Does B");
    EXPECT_EQ(a->Category, "ctMisc");
    EXPECT_EQ(a->Description, "A");
    EXPECT_EQ(b->Description, "Does B");
    EXPECT_EQ(a->TypeCode, fvtInt);
}

TEST_F(ScopeTest, SetValueOfWritesAnExistingItemOrDeclaresAVariant) {
    script.DeclareVariable("Count", "Integer", Variant(int32_t(0)));
    script.SetValueOf("COUNT", Variant("5"));
    EXPECT_EQ(script.LookupLocal("Count")->Value.Kind(), varInteger);
    script.SetValueOf("Fresh", Variant("text"));
    TfsCustomVariable* fresh = script.LookupLocal("Fresh");
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->TypeCode, fvtVariant);
    EXPECT_EQ(fresh->Value.ToStr(), "text");
}

TEST_F(ScopeTest, VariableHookReplacesWhatIsReadButNotWhatIsStored) {
    script.OnGetVarValue = [](const std::string& name, TfsVarType, const Variant& old) {
        return name == "Hooked" ? Variant(old.ToInt() + 100) : Variant::Null();
    };
    script.DeclareVariable("Hooked", "Integer", Variant(int32_t(1)));
    script.DeclareVariable("Plain", "Integer", Variant(int32_t(1)));
    EXPECT_EQ(script.LookupLocal("Hooked")->ReadValue().ToInt(), 101);
    EXPECT_EQ(script.LookupLocal("Hooked")->Value.ToInt(), 1);
    EXPECT_EQ(script.LookupLocal("Plain")->ReadValue().ToInt(), 1);
}

TEST(StringVariable, StoresTheStrictStringConversion) {
    TfsStringVariable s("s", fvtString, "String");
    EXPECT_EQ(s.ReadValue().Kind(), varString);
    EXPECT_EQ(s.ReadValue().ToStr(), "");
    s.WriteValue(Variant(int32_t(15)));
    EXPECT_EQ(s.ReadValue().Kind(), varString);
    EXPECT_EQ(s.ReadValue().ToStr(), "15");
    EXPECT_THROW(s.WriteValue(Variant::Null()), EScriptError);
    EXPECT_EQ(s.ReadValue().ToStr(), "15");
}

// ---- reset and modules -------------------------------------------------------------------------

int g_moduleOrder = 0;
int g_firstSeen = 0, g_secondSeen = 0;

struct FirstModule : TfsRTTIModule {
    explicit FirstModule(TfsScript* s) : TfsRTTIModule(s) {
        g_firstSeen = ++g_moduleOrder;
        s->DeclareMethod("function ModelFromModule: Integer", Returns(7));
    }
};
struct SecondModule : TfsRTTIModule {
    explicit SecondModule(TfsScript* s) : TfsRTTIModule(s) {
        g_secondSeen = ++g_moduleOrder;
        s->DeclareConst("ModelModuleConst", "Integer", Variant(int32_t(3)));
    }
};

TEST(Modules, InstallRemoveAndResetKeepModuleItemsApart) {
    const TfsModuleClass* second = ModuleClassOf<SecondModule>("SecondModule");
    const TfsModuleClass* first = ModuleClassOf<FirstModule>("FirstModule");
    RegisterModuleClass(second);
    RegisterModuleClass(first, true);
    struct Unregister {
        const TfsModuleClass *a, *b;
        ~Unregister() {
            UnregisterModuleClass(a);
            UnregisterModuleClass(b);
        }
    } cleanup{first, second};

    auto modules = RegisteredModules();
    EXPECT_EQ(modules.front(), first);

    TfsScript s;
    g_moduleOrder = 0;
    s.InstallModules();
    EXPECT_LT(g_firstSeen, g_secondSeen);
    EXPECT_TRUE(s.ModulesInstalled());
    s.InstallModules(); // installed once only
    EXPECT_EQ(g_moduleOrder, 2);
    EXPECT_EQ(s.LookupLocal("ModelFromModule")->AddedBy, kAddedByModules);

    s.DeclareVariable("Own", "Integer", Variant(int32_t(1)));
    s.DeclareMethod("function Host: Integer", Returns(1));
    EXPECT_EQ(s.LookupLocal("Own")->AddedBy, 0);
    s.ErrorText = "x";
    s.RecordCodeLine("", "3:1");
    s.Reset();
    EXPECT_EQ(s.LookupLocal("Own"), nullptr);
    EXPECT_EQ(s.LookupLocal("Host"), nullptr);
    EXPECT_NE(s.LookupLocal("ModelFromModule"), nullptr);
    EXPECT_NE(s.LookupLocal("ModelModuleConst"), nullptr);
    EXPECT_EQ(s.ErrorText, "");
    EXPECT_TRUE(s.UnitLines().empty());

    s.RemoveModules();
    EXPECT_FALSE(s.ModulesInstalled());
    EXPECT_EQ(s.ItemCount(), 0);
}

// A function of a test module in the global unit (installed at its creation).
struct ModelTestModule : TfsRTTIModule {
    explicit ModelTestModule(TfsScript* s) : TfsRTTIModule(s) {
        s->DeclareMethod("function ModelTestAdd(a, b: Integer): Integer",
                         [](TObject*, TfsClassRef, std::string_view name, TfsCallFrame& c) {
                             if (name != "MODELTESTADD") return Variant::Null();
                             return Variant(c.Param(0).ToInt() + c.Param(1).ToInt());
                         });
        s->DeclareMethod("function ModelTestJoin(a: String; b: String = '!'): String",
                         [](TObject*, TfsClassRef, std::string_view, TfsCallFrame& c) {
                             return Variant(c.Param(0).ToStr() + c.Param(1).ToStr());
                         });
        // Swaps its two var arguments; the count is passed by value and changing it is lost.
        s->DeclareMethod("procedure ModelTestSwap(var a, b: Variant; count: Integer)",
                         [](TObject*, TfsClassRef, std::string_view, Variant& p) {
                             Variant t = p[0];
                             p[0] = p[1];
                             p[1] = t;
                             p[2] = Variant(int32_t(-1));
                             return Variant::Null();
                         });
        s->DeclareVariable("ModelTestLast", "Variant", Variant("none"));
    }
};
TfsModuleRegistration<ModelTestModule> g_modelTestModule("ModelTestModule");

TEST(GlobalUnit, IsSharedAndHoldsTheRegisteredModules) {
    TfsScript* g = GlobalUnit();
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g, GlobalUnit());
    EXPECT_TRUE(g->SharedAcrossThreads);
    TfsCustomVariable* add = g->Lookup("ModelTestAdd");
    ASSERT_NE(add, nullptr);
    EXPECT_TRUE(add->Shared);
    EXPECT_EQ(add->AddedBy, kAddedByModules);
    EXPECT_EQ(CallItem(add, {Variant(int32_t(2)), Variant(int32_t(3))}).ToInt(), 5);
}

TEST(GlobalUnit, ScriptVariableHidesABuiltInUntilReset) {
    TfsScript s;
    s.Parent = GlobalUnit();
    s.AddItem("ModelTestAdd", new TfsVariable("ModelTestAdd", fvtInt, "Integer"));
    EXPECT_NE(dynamic_cast<TfsVariable*>(s.Lookup("modeltestadd")), nullptr);
    s.Reset();
    EXPECT_NE(dynamic_cast<TfsMethodHelper*>(s.Lookup("modeltestadd")), nullptr);
}

TEST(GlobalUnit, DeclareVariableOfAGlobalNameAddsNothing) {
    TfsScript s;
    s.Parent = GlobalUnit();
    s.DeclareVariable("ModelTestLast", "Integer", Variant(int32_t(1)));
    s.DeclareVariable("modeltestadd", "Integer", Variant(int32_t(1)));
    EXPECT_EQ(s.ItemCount(), 0);
    EXPECT_EQ(s.Lookup("ModelTestLast"), GlobalUnit()->LookupLocal("ModelTestLast"));
}

// ---- the call protocol ---------------------------------------------------------------------

TEST_F(ScopeTest, OneHandlerServesSeveralFunctionsByUpperCaseName) {
    std::vector<std::string> seen;
    TfsHelperCallEvent h = [&](TObject* inst, TfsClassRef cls, std::string_view name,
                               TfsCallFrame&) {
        EXPECT_EQ(inst, nullptr);
        EXPECT_EQ(cls, nullptr);
        seen.emplace_back(name);
        return Variant(name == "INTTOSTR" ? "i" : name == "FLOATTOSTR" ? "f" : "?");
    };
    script.DeclareMethod("function IntToStr(i: Integer): String", h);
    script.DeclareMethod("function FloatToStr(e: Extended): String", h);
    EXPECT_EQ(CallItem(script.Lookup("inttostr"), {Variant(int32_t(1))}).ToStr(), "i");
    EXPECT_EQ(CallItem(script.Lookup("FloatToStr"), {Variant(1.5)}).ToStr(), "f");
    EXPECT_EQ(seen, (std::vector<std::string>{"INTTOSTR", "FLOATTOSTR"}));
}

TEST_F(ScopeTest, ArrayStyleVarParametersReachTheCallerByValueOnesDoNot) {
    TfsCustomVariable* swap = GlobalUnit()->Lookup("ModelTestSwap");
    std::vector<Variant> args{Variant("a"), Variant(int32_t(2)), Variant(int32_t(3))};
    CallItem(swap, args);
    EXPECT_EQ(args[0].ToInt(), 2);
    EXPECT_EQ(args[1].ToStr(), "a");
    EXPECT_EQ(args[2].ToInt(), 3);
}

TEST_F(ScopeTest, ArrayStyleWithTheParametersOfTheItem) {
    // Without a frame the parameters' own values are used and var parameters are updated.
    std::vector<Variant> got;
    TfsMethodHelper* inc =
        script.DeclareMethod("procedure Inc(var i: Integer; incr: Integer = 1)",
                             [&](TObject*, TfsClassRef, std::string_view, Variant& p) {
                                 got = {p[0], p[1]};
                                 p[0] = Variant(p[0].ToInt() + p[1].ToInt());
                                 p[1] = Variant(int32_t(0));
                                 return Variant::Null();
                             });
    inc->Param(0)->Value = Variant(int32_t(10));
    inc->Param(1)->Value = inc->Param(1)->DefaultValue;
    inc->ReadValue();
    EXPECT_EQ(got[0].ToInt(), 10);
    EXPECT_EQ(got[1].ToInt(), 1);
    EXPECT_EQ(inc->Param(0)->Value.ToInt(), 11);
    EXPECT_EQ(inc->Param(1)->Value.ToInt(), 1);
}

TEST_F(ScopeTest, ArrayKeptByAHandlerIsNeitherClearedNorReused) {
    std::vector<Variant> kept;
    TfsMethodHelper* f =
        script.DeclareMethod("function Keep(x: Integer): Integer",
                             [&](TObject*, TfsClassRef, std::string_view, Variant& p) {
                                 kept.push_back(p);
                                 return std::as_const(p)[0]; // a read that leaves the array shared
                             });
    for (int32_t i = 1; i <= 3; ++i) EXPECT_EQ(CallItem(f, {Variant(i)}).ToInt(), i);
    ASSERT_EQ(kept.size(), 3u);
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(kept[i][0].ToInt(), i + 1);
}

TEST_F(ScopeTest, ArgumentArrayLetsGoOfItsValuesAfterTheCall) {
    TfsMethodHelper* f =
        script.DeclareMethod("function Len(x: String): Integer",
                             [&](TObject*, TfsClassRef, std::string_view, Variant& p) {
                                 return Variant(static_cast<int32_t>(p[0].ToStr().size()));
                             });
    Variant text(std::string(100, 'x'));
    EXPECT_EQ(CallItem(f, {text}).ToInt(), 100);
    EXPECT_EQ(*pt_str_refp(text.Raw().u.str), 1); // the cached array holds no reference
}

TEST_F(ScopeTest, FunctionWithoutParametersGetsEmptyAndWithoutHandlerGivesByteZero) {
    uint16_t kind = 0xFFFF;
    script.DeclareMethod("function NoArgs: Integer",
                         [&](TObject*, TfsClassRef, std::string_view, Variant& p) {
                             kind = p.Kind();
                             return Variant(int32_t(1));
                         });
    CallItem(script.Lookup("NoArgs"), {});
    EXPECT_EQ(kind, varEmpty);
    script.DeclareMethod("function Nothing(a: Integer): Integer", TfsHelperCallEvent{});
    Variant r = CallItem(script.Lookup("Nothing"), {Variant(int32_t(4))});
    EXPECT_EQ(r.Kind(), varByte);
    EXPECT_EQ(r.ToInt(), 0);
}

TEST_F(ScopeTest, HelperStyleSetParamReturnsVarParameters) {
    TfsMethodHelper* dec =
        script.DeclareMethod("procedure DecodePair(v: Integer; var hi, lo: Integer)",
                             [](TObject*, TfsClassRef, std::string_view, TfsCallFrame& c) {
                                 const int32_t v = c.Param(0).ToInt();
                                 c.SetParam(1, Variant(v / 100));
                                 c.SetParam(2, Variant(v % 100));
                                 EXPECT_THROW(c.Param(4), EScriptError);
                                 return Variant::Null();
                             });
    std::vector<Variant> args{Variant(int32_t(1234)), Variant(int32_t(0)), Variant(int32_t(0))};
    CallItem(dec, args);
    EXPECT_EQ(args[1].ToInt(), 12);
    EXPECT_EQ(args[2].ToInt(), 34);
}

TEST_F(ScopeTest, NestedCallsOfOneFunctionKeepTheirOwnArguments) {
    // A handler that calls its own function again before reading its arguments a second
    // time: per-item argument storage would be overwritten by the inner call.
    TfsMethodHelper* self = nullptr;
    self = script.DeclareMethod(
        "function SumDown(n: Integer; tag: String): String",
        [&](TObject*, TfsClassRef, std::string_view, TfsCallFrame& c) {
            const int32_t n = c.Param(0).ToInt();
            std::string inner;
            if (n > 0) inner = CallItem(self, {Variant(n - 1), Variant("x")}).ToStr();
            return Variant(c.Param(1).ToStr() + std::to_string(c.Param(0).ToInt()) + inner);
        });
    EXPECT_EQ(CallItem(self, {Variant(int32_t(3)), Variant("t")}).ToStr(), "t3x2x1x0");

    TfsMethodHelper* arr = nullptr;
    arr = script.DeclareMethod("function ArrDown(n: Integer): Integer",
                               [&](TObject*, TfsClassRef, std::string_view, Variant& p) {
                                   const int32_t n = p[0].ToInt();
                                   int32_t inner =
                                       n > 0 ? CallItem(arr, {Variant(n - 1)}).ToInt() : 0;
                                   return Variant(p[0].ToInt() * 10 + inner);
                               });
    EXPECT_EQ(CallItem(arr, {Variant(int32_t(3))}).ToInt(), 30 + 20 + 10);
}

TEST_F(ScopeTest, ManyParametersUseSlotsOutsideTheFrame) {
    TfsMethodHelper* sum = script.DeclareMethod(
        "function Sum(a, b, c, d, e, f, g, h, i, j: Integer; var total: Integer): Integer",
        [](TObject*, TfsClassRef, std::string_view, TfsCallFrame& c) {
            int32_t t = 0;
            for (int k = 0; k < 10; ++k) t += c.Param(k).ToInt();
            c.SetParam(10, Variant(t));
            return Variant(t);
        });
    std::vector<Variant> args;
    for (int32_t k = 1; k <= 11; ++k) args.push_back(Variant(k));
    EXPECT_EQ(CallItem(sum, args).ToInt(), 55);
    EXPECT_EQ(args[10].ToInt(), 55);
}

TEST_F(ScopeTest, HandlerErrorsPassThroughUnchanged) {
    script.DeclareMethod("function Boom: Integer",
                         [](TObject*, TfsClassRef, std::string_view, Variant&) -> Variant {
                             throw EScriptError("EDivByZero", "Division by zero");
                         });
    try {
        CallItem(script.Lookup("Boom"), {});
        FAIL();
    } catch (const EScriptError& e) {
        EXPECT_EQ(e.className(), "EDivByZero");
        EXPECT_EQ(e.message(), "Division by zero");
    }
}

// ---- classes and members -------------------------------------------------------------------

struct ModelList : TObject {
    static const TClassInfo Info;
    const TClassInfo& ClassType() const noexcept override { return Info; }
    std::vector<std::string> items{"a", "b", "c"};
};
struct ModelSorted : ModelList {
    static const TClassInfo Info;
    const TClassInfo& ClassType() const noexcept override { return Info; }
};
struct ModelOther : TObject {
    static const TClassInfo Info;
    const TClassInfo& ClassType() const noexcept override { return Info; }
};
const TClassInfo ModelList::Info{"TModelList", &TObject::ClassInfo, {}};
const TClassInfo ModelSorted::Info{"TModelSorted", &ModelList::Info, {}};
const TClassInfo ModelOther::Info{"TModelOther", &TObject::ClassInfo, {}};
const TfsClassRef kListClass = &ModelList::Info;
const TfsClassRef kSortedClass = &ModelSorted::Info;
const TfsClassRef kOtherClass = &ModelOther::Info;

TEST_F(ScopeTest, IndexedPropertiesGetAndSetThroughTheirHandlers) {
    TfsClassVariable* cls = script.DeclareClass(kListClass, "TObject");
    ASSERT_NE(cls, nullptr);
    std::vector<std::string> names;
    TfsMethodHelper* items = cls->DeclareDefaultProperty(
        "Items", "Integer", "String",
        [&](TObject* inst, TfsClassRef ref, std::string_view name, TfsCallFrame& c) {
            names.emplace_back(name);
            EXPECT_EQ(ref, kListClass);
            auto* list = static_cast<ModelList*>(inst);
            auto& slot = list->items.at(static_cast<size_t>(c.Param(0).ToInt()));
            if (name == "ITEMS.SET") slot = c.Param(c.ParamCount()).ToStr();
            return Variant(slot);
        });
    EXPECT_EQ(cls->DefaultProperty, items);
    EXPECT_TRUE(items->IsIndexProperty());
    EXPECT_EQ(items->Prototype, "function Items(p0: Integer): String");

    ModelList list;
    Variant self = ObjectToVariant(&list);
    TfsArgSlots slots(1);
    slots.Data()[0] = Variant(int32_t(1));
    TfsCallFrame frame(items, slots.Data(), 1);
    frame.ParentValue = &self;
    EXPECT_EQ(items->ReadCall(frame).ToStr(), "b");
    items->WriteCall(frame, Variant("B"));
    EXPECT_EQ(list.items[1], "B");
    EXPECT_TRUE(frame.ValueToSet().IsNull());
    EXPECT_EQ(names, (std::vector<std::string>{"ITEMS.GET", "ITEMS.SET"}));

    // Array style: the value to set follows the parameters.
    std::vector<Variant> setArgs;
    TfsClassVariable* other = script.DeclareClass(kOtherClass, "");
    TfsMethodHelper* cells =
        other->DeclareIndexProperty("Cells", "Integer, Integer", "Variant", {});
    cells->OnHelperCall = nullptr;
    cells->OnParamsCall = [&](TObject*, TfsClassRef, std::string_view name, Variant& p) {
        EXPECT_EQ(name, "CELLS.SET");
        for (int32_t i = 0; i < p.ArrayCount(); ++i) setArgs.push_back(p[i]);
        return Variant::Null();
    };
    Variant none = Variant::Null();
    TfsArgSlots two(2);
    two.Data()[0] = Variant(int32_t(1));
    two.Data()[1] = Variant(int32_t(2));
    TfsCallFrame f2(cells, two.Data(), 2);
    f2.ParentValue = &none;
    cells->WriteCall(f2, Variant("v"));
    ASSERT_EQ(setArgs.size(), 3u);
    EXPECT_EQ(setArgs[2].ToStr(), "v");
}

TEST_F(ScopeTest, MemberCallsRefuseStaleHandlesAndOtherClasses) {
    TfsClassVariable* cls = script.DeclareClass(kListClass, "");
    int calls = 0;
    TfsMethodHelper* count =
        cls->DeclareMethod("function Count: Integer",
                           [&](TObject* inst, TfsClassRef, std::string_view, TfsCallFrame&) {
                               ++calls;
                               return Variant(int32_t(inst ? 3 : -1));
                           });
    auto callOn = [&](const Variant& self) {
        TfsArgSlots s(0);
        TfsCallFrame f(count, s.Data(), 0);
        f.ParentValue = &self;
        return count->ReadCall(f).ToInt();
    };
    Variant stale;
    {
        ModelList list;
        stale = ObjectToVariant(&list);
        EXPECT_EQ(callOn(stale), 3);
    }
    try {
        callOn(stale);
        FAIL();
    } catch (const EScriptError& e) {
        EXPECT_EQ(e.className(), "EAccessViolation");
        EXPECT_NE(e.message().find("Invalid object reference"), std::string::npos);
    }
    ModelSorted derived;
    EXPECT_EQ(callOn(ObjectToVariant(&derived)), 3); // a descendant is accepted
    ModelOther other;
    try {
        callOn(ObjectToVariant(&other));
        FAIL();
    } catch (const EScriptError& e) {
        EXPECT_EQ(e.className(), "EInvalidCast");
    }
    EXPECT_EQ(callOn(Variant(int32_t(0))), -1); // nil: the handler decides
    EXPECT_EQ(calls, 3);
}

TEST_F(ScopeTest, ClassesAnswerAncestryQuestions) {
    TfsClassVariable* list = script.DeclareClass(kListClass, "TObject");
    list->DeclareDefaultProperty("Items", "Integer", "String", {});
    TfsClassVariable* sorted = script.DeclareClass(kSortedClass, "TModelList");
    ASSERT_NE(sorted, nullptr);
    EXPECT_EQ(script.DeclareClass(kListClass, "TObject"), nullptr);
    EXPECT_EQ(sorted->DefaultProperty, list->DefaultProperty);
    EXPECT_EQ(sorted->FindMember("items"), list->DefaultProperty);
    EXPECT_EQ(sorted->FindMember("Nope"), nullptr);
    EXPECT_EQ(script.LookupClass("tmodelsorted"), sorted);
    EXPECT_EQ(script.LookupClass("Integer"), nullptr);

    const TfsClassAncestry& a = script;
    EXPECT_TRUE(a.IsRegisteredClass("TModelList"));
    EXPECT_FALSE(a.IsRegisteredClass("Integer"));
    EXPECT_TRUE(a.DescendsFrom("TModelSorted", "TModelList"));
    EXPECT_TRUE(a.DescendsFrom("TModelSorted", "tmodelsorted"));
    EXPECT_FALSE(a.DescendsFrom("TModelList", "TModelSorted"));
    EXPECT_FALSE(a.DescendsFrom("Unknown", "TModelList"));
}

TEST_F(ScopeTest, DeclareObjectGivesAHandleVariableOfTheObjectsClass) {
    ModelList list;
    script.DeclareObject("Items", &list);
    TfsCustomVariable* v = script.LookupLocal("Items");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->TypeName, "TModelList");
    EXPECT_EQ(v->Value.Kind(), varInteger);
    EXPECT_EQ(VariantToObject(v->Value, kListClass), &list);
}

TEST_F(ScopeTest, ConstructorPrototypeIsRewritten) {
    TfsClassVariable* cls = script.DeclareClass(kListClass, "");
    TfsMethodHelper* create = cls->DeclareConstructor("constructor Create(AOwner: TComponent)", {});
    EXPECT_EQ(create->Prototype, "function Create(AOwner: TComponent): Constructor");
    EXPECT_EQ(create->TypeCode, fvtConstructor);
    EXPECT_EQ(create->ClassRef, kListClass);
}

TEST_F(ScopeTest, ClassNameAsValueIsACastOrNull) {
    TfsClassVariable* cls = script.DeclareClass(kListClass, "");
    EXPECT_TRUE(CallItem(cls, {Variant::Null()}).IsNull());
    EXPECT_EQ(CallItem(cls, {Variant(int32_t(77))}).ToInt(), 77);
    cls->Param(0)->Value = Variant(int32_t(5));
    EXPECT_EQ(cls->ReadValue().ToInt(), 5);
    EXPECT_TRUE(cls->Param(0)->Value.IsNull());
    EXPECT_TRUE(cls->ReadValue().IsNull());
}

// ---- hooks and code lines --------------------------------------------------------------------

TEST_F(ScopeTest, ReportLineCallsTheNearestHandlerWithTheStartingScope) {
    std::vector<std::string> log;
    global.OnRunLine = [&](TfsScript* sender, const std::string& unit, const std::string& pos) {
        log.push_back((sender == &script ? "script " : "other ") + unit + "@" + pos);
    };
    script.ReportLine("", "3:5");
    TfsScript inner;
    inner.Parent = &script;
    script.OnRunLine = [&](TfsScript* sender, const std::string&, const std::string& pos) {
        log.push_back((sender == &inner ? "inner " : "? ") + pos);
    };
    inner.ReportLine("u", "4:1");
    EXPECT_EQ(log, (std::vector<std::string>{"script @3:5", "inner 4:1"}));
}

TEST_F(ScopeTest, RecordCodeLineKeepsSortedDistinctLinesPerUnit) {
    for (const char* pos : {"10:3", "9:1", "10:8", "2:1", "100:1"}) script.RecordCodeLine("", pos);
    script.RecordCodeLine("Lib.pas", "5:1");
    script.RecordCodeLine("LIB.PAS", "4:2");
    ASSERT_EQ(script.UnitLines().size(), 2u);
    EXPECT_EQ(script.UnitLines()[0].Lines, (std::vector<std::string>{"2", "9", "10", "100"}));
    EXPECT_EQ(script.UnitLines()[1].UnitName, "Lib.pas");
    EXPECT_EQ(script.UnitLines()[1].Lines, (std::vector<std::string>{"4", "5"}));
}

// ---- script procedures -----------------------------------------------------------------------

// Result := n * Fact(n - 1) (1 for n = 0); reads n again after the inner call.
struct FactStmt : TfsStatement {
    TfsProcVariable* proc;
    FactStmt(TfsProcVariable* p) : TfsStatement(p->Body(), "1:1", ""), proc(p) {}
    void Perform() override {
        const int32_t n = proc->Param(0)->Value.ToInt();
        if (n == 0) return proc->LinkedItem->WriteValue(Variant(int32_t(1)));
        std::vector<Variant> args{Variant(n - 1)};
        Variant inner = CallItem(proc, args);
        proc->LinkedItem->WriteValue(Variant(proc->Param(0)->Value.ToInt() * inner.ToInt()));
    }
};

TEST_F(ScopeTest, RecursiveProcedureCallsSeeTheirOwnValues) {
    auto* fact = new TfsProcVariable("Fact", fvtInt, "Integer", &script);
    fact->AddParam(new TfsParamItem("n", fvtInt, "Integer", false, false));
    fact->Body()->Statements->Add(new FactStmt(fact));
    script.AddItem("Fact", fact);
    EXPECT_EQ(fact->Body()->LookupLocal("N"), fact->Param(0));
    EXPECT_EQ(fact->Body()->LookupLocal("Result"), fact->LinkedItem);
    EXPECT_EQ(CallItem(fact, {Variant(int32_t(5))}).ToInt(), 120);
    EXPECT_EQ(fact->Param(0)->Value.ToInt(), 5); // the outer call's values remain
    EXPECT_FALSE(fact->Executing);
}

// Bump(var x; depth): Bump(x, depth - 1) on its own parameter, then x := x + 1.
struct BumpStmt : TfsStatement {
    TfsProcVariable* proc;
    BumpStmt(TfsProcVariable* p) : TfsStatement(p->Body(), "1:1", ""), proc(p) {}
    void Perform() override {
        TfsParamItem* x = proc->Param(0);
        const int32_t depth = proc->Param(1)->Value.ToInt();
        if (depth > 0) {
            std::vector<Variant> args{x->Value, Variant(depth - 1)};
            CallItem(proc, args);
            x->Value = args[0]; // the evaluator's write-back into the argument
        }
        x->Value = Variant(x->Value.ToInt() + 1);
    }
};

TEST_F(ScopeTest, VarParameterOfARecursiveCallSurvivesTheRestore) {
    auto* bump = new TfsProcVariable("Bump", fvtInt, "", &script, false);
    bump->AddParam(new TfsParamItem("x", fvtInt, "Integer", false, true));
    bump->AddParam(new TfsParamItem("depth", fvtInt, "Integer", false, false));
    bump->Body()->Statements->Add(new BumpStmt(bump));
    script.AddItem("Bump", bump);
    std::vector<Variant> args{Variant(int32_t(0)), Variant(int32_t(3))};
    EXPECT_TRUE(CallItem(bump, args).IsNull());
    EXPECT_EQ(args[0].ToInt(), 4);
}

struct ForeverStmt : TfsStatement {
    TfsProcVariable* proc;
    ForeverStmt(TfsProcVariable* p) : TfsStatement(p->Body(), "1:1", ""), proc(p) {}
    void Perform() override {
        if (proc->Param(0)->Value.ToInt() == 0) return;
        CallItem(proc, {Variant(int32_t(1))});
    }
};

TEST_F(ScopeTest, RunawayRecursionStopsWithStackOverflow) {
    auto* p = new TfsProcVariable("Forever", fvtInt, "", &script, false);
    p->AddParam(new TfsParamItem("go", fvtInt, "Integer", false, false));
    p->Body()->Statements->Add(new ForeverStmt(p));
    script.AddItem("Forever", p);
    try {
        CallItem(p, {Variant(int32_t(1))});
        FAIL();
    } catch (const EScriptError& e) {
        EXPECT_EQ(e.message(), "Stack overflow");
    }
    EXPECT_FALSE(p->Executing);
    EXPECT_TRUE(CallItem(p, {Variant(int32_t(0))}).IsNull()); // depth count was unwound
}

struct FlagStmt : TfsStatement {
    int* runs;
    bool setBreak;
    FlagStmt(TfsScript* s, int* r, bool b) : TfsStatement(s, "1:1", ""), runs(r), setBreak(b) {}
    void Perform() override {
        ++*runs;
        if (setBreak) Program->BreakRequested = true;
    }
};

TEST(ScriptObject, IsAComponentWithDefaults) {
    TComponent form;
    auto* s = new TfsScript(&form);
    s->SetName("fsScript1");
    EXPECT_EQ(form.FindComponent("FSSCRIPT1"), s);
    EXPECT_EQ(s->SyntaxType, "PascalScript");
    EXPECT_EQ(s->IncludePath, std::vector<std::string>{""});
    EXPECT_EQ(s->ItemCount(), 0);
    EXPECT_EQ(s->Statements->Count(), 0);
    EXPECT_EQ(s->Parent, nullptr);
    const TPropInfo* p = GetPropInfo(*s, "syntaxtype");
    ASSERT_NE(p, nullptr);
    SetStrProp(*s, *p, "JScript");
    EXPECT_EQ(s->SyntaxType, "JScript");
    EXPECT_EQ(s->ClassName(), "TfsScript");
} // the form frees the script

TEST(Execute, StatementListStopsAtAFlagAndExecuteClearsIt) {
    TfsScript s;
    int runs = 0;
    s.Statements->Add(new FlagStmt(&s, &runs, false));
    s.Statements->Add(new FlagStmt(&s, &runs, true));
    s.Statements->Add(new FlagStmt(&s, &runs, false));
    s.Execute();
    EXPECT_EQ(runs, 2);
    EXPECT_FALSE(s.BreakRequested);
    EXPECT_FALSE(s.IsRunning);
    EXPECT_TRUE(s.IsMainProgram);
}

TEST(Compile, WithoutAFrontEndTheLanguageIsNotFound) {
    TfsScript s;
    s.SyntaxType = "Klingon";
    try {
        s.Compile();
        FAIL();
    } catch (const EScriptError& e) {
        EXPECT_EQ(e.message(), "Language 'Klingon' not found");
    }
}

// ---- two threads, one global unit ----------------------------------------------------------

TEST(GlobalUnitThreads, TwoThreadsCallTheSameFunctionsAtOnce) {
    TfsScript* g = GlobalUnit();
    TfsCustomVariable* add = g->Lookup("ModelTestAdd");
    TfsCustomVariable* join = g->Lookup("ModelTestJoin");
    TfsCustomVariable* swap = g->Lookup("ModelTestSwap");
    TfsCustomVariable* last = g->Lookup("ModelTestLast");
    ASSERT_TRUE(add && join && swap && last);
    std::atomic<int> failures{0};
    std::atomic<int> ready{0};
    auto worker = [&](int32_t id) {
        ready.fetch_add(1);
        while (ready.load() < 2) std::this_thread::yield();
        const std::string tag = "t" + std::to_string(id) + ":";
        for (int32_t k = 0; k < 20000; ++k) {
            const int32_t a = id * 1000000 + k;
            if (CallItem(add, {Variant(a), Variant(k)}).ToInt() != a + k) ++failures;

            const std::string s = tag + std::to_string(k);
            if (CallItem(join, {Variant(s), Variant("!")}).ToStr() != s + "!") ++failures;

            std::vector<Variant> args{Variant(a), Variant(s), Variant(k)};
            CallItem(swap, args);
            if (args[0].ToStr() != s || args[1].ToInt() != a || args[2].ToInt() != k) ++failures;

            last->WriteValue(Variant(s));
            if (last->ReadValue().ToStr() != s) ++failures;
        }
    };
    std::thread t1(worker, 1), t2(worker, 2);
    t1.join();
    t2.join();
    EXPECT_EQ(failures.load(), 0);
    // Each thread had its own value; this one never wrote it.
    EXPECT_EQ(last->ReadValue().ToStr(), "none");
}

} // namespace
} // namespace pt
