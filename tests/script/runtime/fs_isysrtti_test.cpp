// The system functions as scripts reach them: registered by TfsSysFunctions, called through a
// frame as the evaluator does.
#include <gtest/gtest.h>

#include "platform/FormatSettings.h"
#include "script/runtime/fs_errors.h"
#include "script/runtime/fs_isysrtti.h"
#include "script/runtime/fs_sysfuncs.h"

#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace pt {
namespace {

class SysFunctionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = FormatSettings();
        SetFormatSettings(TFormatSettings{}); // the conventional English defaults
        module_ = std::make_unique<TfsSysFunctions>(&scope_);
    }
    void TearDown() override { SetFormatSettings(saved_); }

    // Calls a registered function; `args` comes back with the var parameters written.
    Variant Call(const char* name, std::vector<Variant>& args) {
        TfsCustomVariable* item = scope_.LookupLocal(name);
        EXPECT_NE(item, nullptr) << name;
        if (!item) return Variant();
        const int n = item->ParamCount();
        TfsArgSlots slots(n);
        for (int i = 0; i < n && i < static_cast<int>(args.size()); ++i) slots.Data()[i] = args[i];
        TfsCallFrame frame(item, slots.Data(), n);
        Variant result = item->ReadCall(frame);
        args.assign(slots.Data(), slots.Data() + n);
        return result;
    }
    Variant Call(const char* name, std::initializer_list<Variant> args = {}) {
        std::vector<Variant> a(args);
        return Call(name, a);
    }
    std::string ErrorOf(const char* name, std::initializer_list<Variant> args) {
        try {
            Call(name, args);
        } catch (const EScriptError& e) {
            return e.className() + ": " + e.message();
        }
        return "no error";
    }

    TfsScript scope_;
    std::unique_ptr<TfsSysFunctions> module_;
    TFormatSettings saved_;
};

Variant I(int32_t v) {
    return Variant(v);
}
Variant D(double v) {
    return Variant(v);
}

TEST_F(SysFunctionsTest, IsTheFirstRegisteredModule) {
    auto modules = RegisteredModules();
    ASSERT_FALSE(modules.empty());
    EXPECT_STREQ(modules[0]->Name, "TfsSysFunctions");
    TfsScript* g = GlobalUnit();
    ASSERT_NE(g, nullptr);
    EXPECT_NE(g->Lookup("NameCase"), nullptr);
}

TEST_F(SysFunctionsTest, TypesConstantsAndVariables) {
    const std::map<std::string, TfsVarType> types = {
        {"Byte", fvtInt},        {"Cardinal", fvtInt},   {"TAlphaColor", fvtInt},
        {"Boolean", fvtBool},    {"Extended", fvtFloat}, {"TDateTime", fvtFloat},
        {"Currency", fvtFloat},  {"Char", fvtChar},      {"String", fvtString},
        {"Pointer", fvtVariant}, {"Array", fvtArray},    {"Constructor", fvtConstructor}};
    for (const auto& [name, code] : types) {
        TfsCustomVariable* t = scope_.LookupLocal(name);
        ASSERT_NE(t, nullptr) << name;
        EXPECT_EQ(t->TypeCode, code) << name;
    }
    EXPECT_EQ(scope_.LookupLocal("True")->ReadValue().Kind(), varBoolean);
    EXPECT_TRUE(scope_.LookupLocal("True")->ReadValue().ToBool());
    EXPECT_TRUE(scope_.LookupLocal("False")->ReadOnly);
    Variant nil = scope_.LookupLocal("nil")->ReadValue();
    EXPECT_EQ(nil.Kind(), varByte);
    EXPECT_EQ(nil.ToInt(), 0);
    EXPECT_TRUE(scope_.LookupLocal("Null")->ReadValue().IsNull());
    for (const char* v : {"ExceptionClassName", "ExceptionMessage"}) {
        TfsCustomVariable* item = scope_.LookupLocal(v);
        ASSERT_NE(item, nullptr);
        EXPECT_FALSE(item->ReadOnly);
        EXPECT_EQ(item->TypeCode, fvtString);
        EXPECT_EQ(item->ReadValue().ToStr(), "");
    }
    const std::map<std::string, int> kinds = {
        {"varEmpty", 0},     {"varNull", 1},      {"varDate", 7},        {"varBoolean", 11},
        {"varVariant", 12},  {"varShortInt", 16}, {"varInt64", 20},      {"varStrArg", 72},
        {"varString", 256},  {"varAny", 257},     {"varTypeMask", 4095}, {"varArray", 8192},
        {"varByRef", 16384}, {"varUnknown", 13}};
    for (const auto& [name, value] : kinds) {
        TfsCustomVariable* c = scope_.LookupLocal(name);
        ASSERT_NE(c, nullptr) << name;
        EXPECT_EQ(c->ReadValue().ToInt(), value) << name;
        EXPECT_EQ(c->TypeCode, fvtInt) << name;
        EXPECT_TRUE(c->ReadOnly) << name;
    }
}

TEST_F(SysFunctionsTest, SixtyEightFunctionsWithPrototypeAndCategory) {
    int count = 0;
    const TSysFunctionDef* table = SysFunctionTable(count);
    ASSERT_EQ(count, 68);
    std::map<std::string, int> perCategory;
    for (int i = 0; i < count; ++i) {
        std::string proto = table[i].Prototype;
        size_t b = proto.find(' ') + 1;
        size_t e = proto.find_first_of("(:;", b);
        std::string name = proto.substr(b, e == std::string::npos ? e : e - b);
        auto* m = dynamic_cast<TfsMethodHelper*>(scope_.LookupLocal(name));
        ASSERT_NE(m, nullptr) << name;
        EXPECT_EQ(m->Prototype, proto);
        EXPECT_EQ(m->Category, table[i].Category);
        EXPECT_EQ(m->Description, name);
        ++perCategory[table[i].Category];
    }
    EXPECT_EQ(perCategory, (std::map<std::string, int>{{"ctConv", 14},
                                                       {"ctFormat", 4},
                                                       {"ctDate", 10},
                                                       {"ctString", 14},
                                                       {"ctMath", 13},
                                                       {"ctOther", 13}}));
    // "Int64" is no registered type name: the result of StrToInt64 is class-typed.
    EXPECT_EQ(scope_.LookupLocal("StrToInt64")->TypeCode, fvtClass);
    TfsCustomVariable* inc = scope_.LookupLocal("Inc");
    ASSERT_EQ(inc->ParamCount(), 2);
    EXPECT_EQ(inc->RequiredParamCount(), 1);
    EXPECT_TRUE(inc->Param(0)->ByReference);
}

TEST_F(SysFunctionsTest, Conversions) {
    EXPECT_EQ(Call("IntToStr", {Variant(int64_t{5000000000})}).ToStr(), "5000000000");
    EXPECT_EQ(Call("IntToStr", {Variant("-12")}).ToStr(), "-12");
    EXPECT_EQ(Call("FloatToStr", {D(0.1)}).ToStr(), "0.1");
    EXPECT_EQ(Call("BoolToStr", {Variant(true)}).ToStr(), "-1");
    EXPECT_EQ(Call("BoolToStr", {Variant(false)}).ToStr(), "0");
    EXPECT_EQ(Call("VarToStr", {Variant::Null()}).ToStr(), "");
    Variant b = Call("StrToBool", {Variant("true")});
    EXPECT_EQ(b.Kind(), varBoolean);
    EXPECT_TRUE(b.ToBool());
    EXPECT_EQ(Call("StrToInt", {Variant("$1F")}).Kind(), varInteger);
    EXPECT_EQ(Call("StrToInt", {Variant("$1F")}).ToInt(), 31);
    Variant big = Call("StrToInt64", {Variant("5000000000")});
    EXPECT_EQ(big.Kind(), varInt64);
    EXPECT_EQ(big.ToInt64(), 5000000000LL);
    EXPECT_EQ(Call("StrToFloat", {Variant("2.5")}).Kind(), varDouble);
    EXPECT_EQ(ErrorOf("StrToInt", {Variant("12a")}),
              "EConvertError: '12a' is not a valid integer value");
    EXPECT_EQ(ErrorOf("StrToFloat", {Variant("x")}),
              "EConvertError: 'x' is not a valid floating point value");
    Variant d = Call("StrToDate", {Variant("12/11/2024")});
    EXPECT_EQ(d.Kind(), varDate);
    EXPECT_EQ(d.ToDouble(), 45637.0);
    EXPECT_EQ(ErrorOf("StrToDate", {Variant("31/31/2024")}),
              "EConvertError: '31/31/2024' is not a valid date");
    EXPECT_EQ(Call("DateToStr", {D(45637.5)}).ToStr(), "12/11/2024");
    EXPECT_EQ(Call("TimeToStr", {D(45637.5)}).ToStr(), "12:00:00 PM");
    EXPECT_EQ(Call("DateTimeToStr", {D(45637)}).ToStr(), "12/11/2024");
}

TEST_F(SysFunctionsTest, Formatting) {
    Variant args = Variant::Array({Variant("x"), I(5), D(2.5), Variant(std::string(300, 'z'))});
    EXPECT_EQ(Call("Format", {Variant("%s-%d-%.2f-%s"), args}).ToStr(),
              "x-5-2.50-" + std::string(300, 'z'));
    EXPECT_EQ(ErrorOf("Format", {Variant("%d"), Variant::Array({Variant("x")})}),
              "EConvertError: Format '%d' invalid or incompatible with argument");
    // Any numeric kind (and number text) is accepted by FormatFloat.
    EXPECT_EQ(Call("FormatFloat", {Variant("0.00"), I(3)}).ToStr(), "3.00");
    EXPECT_EQ(Call("FormatFloat", {Variant("0.00"), Variant("1.5")}).ToStr(), "1.50");
    EXPECT_EQ(Call("FormatFloat", {Variant("#,##0"), Variant::Currency(12345670000)}).ToStr(),
              "1,234,567");
    EXPECT_EQ(Call("FormatDateTime", {Variant("yyyy-mm-dd"), Variant::Date(45637)}).ToStr(),
              "2024-12-11");
    EXPECT_EQ(Call("FormatMaskText", {Variant("(000) 000;0"), Variant("123456")}).ToStr(),
              "(123) 456");
}

TEST_F(SysFunctionsTest, Dates) {
    Variant d = Call("EncodeDate", {I(2024), I(12), I(11)});
    EXPECT_EQ(d.Kind(), varDate);
    EXPECT_EQ(d.ToDouble(), 45637.0);
    EXPECT_EQ(ErrorOf("EncodeDate", {I(2023), I(2), I(29)}),
              "EConvertError: Invalid argument to date encode");
    EXPECT_EQ(ErrorOf("EncodeTime", {I(24), I(0), I(0), I(0)}),
              "EConvertError: Invalid argument to time encode");
    EXPECT_DOUBLE_EQ(Call("EncodeTime", {I(18), I(0), I(0), I(0)}).ToDouble(), 0.75);
    std::vector<Variant> args{D(45637.75), Variant(), Variant(), Variant()};
    Call("DecodeDate", args);
    EXPECT_EQ(args[1].Kind(), varWord);
    EXPECT_EQ(args[1].ToInt(), 2024);
    EXPECT_EQ(args[2].ToInt(), 12);
    EXPECT_EQ(args[3].ToInt(), 11);
    std::vector<Variant> t{D(45637.37850702546), Variant(), Variant(), Variant(), Variant()};
    Call("DecodeTime", t);
    EXPECT_EQ(t[1].ToInt(), 9);
    EXPECT_EQ(t[2].ToInt(), 5);
    EXPECT_EQ(t[3].ToInt(), 3);
    EXPECT_EQ(t[4].ToInt(), 7);
    EXPECT_EQ(Call("DayOfWeek", {D(45637)}).ToInt(), 4);
    EXPECT_EQ(Call("DayOfWeek", {D(45637)}).Kind(), varWord);
    EXPECT_TRUE(Call("IsLeapYear", {I(2000)}).ToBool());
    EXPECT_FALSE(Call("IsLeapYear", {I(1900)}).ToBool());
    EXPECT_EQ(Call("DaysInMonth", {I(2000), I(2)}).ToInt(), 29);
    EXPECT_EQ(Call("DaysInMonth", {I(1900), I(2)}).ToInt(), 28);
    for (int bad : {0, 13, -1}) EXPECT_NE(ErrorOf("DaysInMonth", {I(2000), I(bad)}), "no error");
    Variant today = Call("Date"), now = Call("Now"), time = Call("Time");
    EXPECT_EQ(today.Kind(), varDate);
    EXPECT_EQ(today.ToDouble(), std::floor(today.ToDouble()));
    EXPECT_GE(now.ToDouble(), today.ToDouble());
    EXPECT_LT(now.ToDouble(), today.ToDouble() + 2);
    EXPECT_GE(time.ToDouble(), 0.0);
    EXPECT_LT(time.ToDouble(), 1.0);
    EXPECT_TRUE(Call("ValidDate", {Variant("2/29/2000")}).ToBool());
    EXPECT_FALSE(Call("ValidDate", {Variant("2/30/2000")}).ToBool());
    EXPECT_TRUE(Call("ValidDate", {Variant::Date(45637)}).ToBool());
    EXPECT_FALSE(Call("ValidDate", {Variant::Date(1e12)}).ToBool());
}

TEST_F(SysFunctionsTest, Strings) {
    EXPECT_EQ(Call("Copy", {Variant("abcdef"), I(0), I(2)}).ToStr(), "ab");
    EXPECT_EQ(Call("Copy", {Variant("abc"), I(5), I(1)}).ToStr(), "");
    EXPECT_EQ(Call("Pos", {Variant("c"), Variant("abc")}).ToInt(), 3);
    std::vector<Variant> del{Variant("hello"), I(2), I(3)};
    Call("Delete", del);
    EXPECT_EQ(del[0].ToStr(), "ho");
    std::vector<Variant> ins{Variant("XX"), del[0], I(2)};
    Call("Insert", ins);
    EXPECT_EQ(ins[1].ToStr(), "hXXo");
    std::vector<Variant> del2{Variant("hello"), I(1), I(1)};
    Call("DeleteStr", del2);
    EXPECT_EQ(del2[0].ToStr(), "ello");
    EXPECT_EQ(Call("NameCase", {Variant("jOHN smith")}).ToStr(), "John Smith");
    EXPECT_EQ(Call("Uppercase", {Variant("abc")}).ToStr(), "ABC");
    EXPECT_EQ(Call("Lowercase", {Variant("ABC")}).ToStr(), "abc");
    EXPECT_EQ(Call("Trim", {Variant("  a  ")}).ToStr(), "a");
    EXPECT_EQ(Call("CompareText", {Variant("abc"), Variant("ABD")}).ToInt(), -1);
    EXPECT_EQ(Call("Chr", {I(321)}).ToStr(), "A");
    Variant ord = Call("Ord", {Variant("A")});
    EXPECT_EQ(ord.Kind(), varByte);
    EXPECT_EQ(ord.ToInt(), 65);
    EXPECT_NE(ErrorOf("Ord", {Variant("")}), "no error");
    EXPECT_EQ(Call("Length", {Variant("hello")}).ToInt(), 5);
    EXPECT_EQ(Call("Length", {I(12345)}).ToInt(), 5);
    Variant arr = Call("VarArrayCreate", {Variant::Array({I(0), I(4)}), I(varVariant)});
    EXPECT_EQ(Call("Length", {arr}).ToInt(), 5);

    std::vector<Variant> sl{Variant("hello"), I(2)};
    Call("SetLength", sl);
    EXPECT_EQ(sl[0].ToStr(), "he");
    sl = {Variant("ab"), I(4)};
    Call("SetLength", sl);
    EXPECT_EQ(sl[0].ToStr().size(), 4u);
    EXPECT_EQ(sl[0].ToStr().substr(0, 2), "ab");
    sl = {Variant::Array({I(1), I(2), I(3)}), I(2)};
    Call("SetLength", sl);
    ASSERT_TRUE(sl[0].IsArray());
    EXPECT_EQ(sl[0].ArrayHigh(1), 1);
    EXPECT_EQ(sl[0][1].ToInt(), 2);
    sl = {Variant::Array({I(1)}), I(3)};
    Call("SetLength", sl);
    EXPECT_EQ(sl[0].ArrayHigh(1), 2);
    EXPECT_EQ(sl[0][0].ToInt(), 1);
    EXPECT_NE(ErrorOf("SetLength", {Variant("abc"), I(-1)}), "no error");
    EXPECT_NE(ErrorOf("SetLength", {Variant::Array({I(1)}), I(-5)}), "no error");
    EXPECT_NE(ErrorOf("SetLength", {I(5), I(2)}), "no error");
}

TEST_F(SysFunctionsTest, Arithmetic) {
    Variant r = Call("Round", {D(2.5)});
    EXPECT_EQ(r.Kind(), varInteger);
    EXPECT_EQ(r.ToInt(), 2);
    EXPECT_EQ(Call("Round", {D(3.5)}).ToInt(), 4);
    EXPECT_EQ(Call("Trunc", {D(-1.7)}).ToInt(), -1);
    Variant i = Call("Int", {D(2.7)});
    EXPECT_EQ(i.Kind(), varDouble);
    EXPECT_EQ(i.ToDouble(), 2.0);
    EXPECT_DOUBLE_EQ(Call("Frac", {D(-2.75)}).ToDouble(), -0.75);
    Variant a = Call("Abs", {I(-3)});
    EXPECT_EQ(a.Kind(), varDouble);
    EXPECT_EQ(a.ToDouble(), 3.0);
    EXPECT_EQ(Call("Sqrt", {I(16)}).ToDouble(), 4.0);
    EXPECT_DOUBLE_EQ(Call("Tan", {D(1.0)}).ToDouble(), std::tan(1.0));
    EXPECT_DOUBLE_EQ(Call("Ln", {D(std::exp(2.0))}).ToDouble(), 2.0);
    EXPECT_DOUBLE_EQ(Call("ArcTan", {D(1.0)}).ToDouble() * 4, Call("Pi").ToDouble());
    EXPECT_EQ(Call("Pi").ToDouble(), 3.141592653589793);
}

TEST_F(SysFunctionsTest, IncDecKeepTheValueKind) {
    std::vector<Variant> x{I(5), I(1)};
    Call("Inc", x);
    EXPECT_EQ(x[0].Kind(), varInteger);
    EXPECT_EQ(x[0].ToInt(), 6);
    std::vector<Variant> v{D(5.5), I(1)};
    Call("Inc", v);
    EXPECT_EQ(v[0].ToDouble(), 6.5);
    std::vector<Variant> d{I(10), I(4)};
    Call("Dec", d);
    EXPECT_EQ(d[0].ToInt(), 6);
}

std::string g_message;

TEST_F(SysFunctionsTest, Other) {
    EXPECT_EQ(ErrorOf("RaiseException", {Variant("boom")}), "Exception: boom");
    std::string ole = ErrorOf("CreateOleObject", {Variant("Excel.Application")});
    EXPECT_EQ(ole.rfind("EOleError: ", 0), 0u) << ole;
    EXPECT_NE(ole.find("Excel.Application"), std::string::npos);
    SetShowMessageHandler([](const std::string& text) { g_message = text; });
    Call("ShowMessage", {I(42)});
    SetShowMessageHandler(nullptr);
    EXPECT_EQ(g_message, "42");
    Call("Randomize");
    double r = Call("Random").ToDouble();
    EXPECT_GE(r, 0.0);
    EXPECT_LT(r, 1.0);
    EXPECT_TRUE(Call("ValidInt", {Variant("-12")}).ToBool());
    EXPECT_FALSE(Call("ValidInt", {Variant("1.5")}).ToBool());
    EXPECT_TRUE(Call("ValidFloat", {Variant("1.5e3")}).ToBool());
    EXPECT_FALSE(Call("ValidFloat", {Variant("1.5.3")}).ToBool());
    EXPECT_EQ(Call("ExtractFilePath", {Variant("C:\\a\\b.txt")}).ToStr(), "C:\\a\\");
    Variant vt = Call("VarType", {D(1.5)});
    EXPECT_EQ(vt.Kind(), varWord);
    EXPECT_EQ(vt.ToInt(), 5);
    EXPECT_EQ(Call("VarType", {Variant("a")}).ToInt(), 256);
    EXPECT_EQ(Call("VarType", {Variant::Byte(0)}).ToInt(), 17);
    Variant grid =
        Call("VarArrayCreate", {Variant::Array({I(0), I(1), I(1), I(3)}), I(varInteger)});
    EXPECT_EQ(grid.Kind(), varArray | varInteger);
    EXPECT_EQ(grid.ArrayDims(), 2);
    EXPECT_EQ(grid.ArrayLow(2), 1);
    EXPECT_EQ(grid.ArrayHigh(2), 3);
    for (auto bounds : {Variant::Array({I(0)}), Variant::Array({I(5), I(1)}), I(3),
                        Variant::Array({I(0), I(1), I(0), I(1), I(0), I(1), I(0), I(1)}),
                        Variant::Array({I(0), I(2000000000)})})
        EXPECT_NE(ErrorOf("VarArrayCreate", {bounds, I(varVariant)}), "no error");
    EXPECT_NE(ErrorOf("VarArrayCreate", {Variant::Array({I(0), I(1)}), I(9999)}), "no error");
}

} // namespace
} // namespace pt
