#include "script/runtime/fs_errors.h"
#include "script/runtime/fs_iinterpreter.h"

#include "model_fixture.h"

#include <gtest/gtest.h>

namespace pt {
namespace {

// One line per function: "[macro ]function|procedure Name: Type/code (p; p; ...)" where a
// parameter reads "[var ]name: Type/code[ = Kind value][?]" and "?" marks Optional.
std::string Describe(const TfsMethodHelper& h) {
    std::string s = h.IsMacro ? "macro " : "";
    s += h.TypeName.empty() ? "procedure " : "function ";
    s += h.Name() + ": " + h.TypeName + "/" + std::to_string(h.TypeCode) + " (";
    for (int i = 0; i < h.ParamCount(); ++i) {
        const TfsParamItem* p = h.Param(i);
        if (i) s += "; ";
        if (p->ByReference) s += "var ";
        s += p->Name() + ": " + p->TypeName + "/" + std::to_string(p->TypeCode);
        if (!p->DefaultValue.IsNull())
            s += " = " + KindName(p->DefaultValue.Kind()) + " " + p->DefaultValue.ToStrLoose();
        if (p->Optional) s += "?";
    }
    return s + ")";
}

class PrototypeTest : public ::testing::Test {
protected:
    PrototypeTest() {
        test::DeclareBasicTypes(types);
        types.DeclareConst("MaxLen", "Integer", Variant(int32_t(80)));
        types.DeclareVariable("NothingYet", "Variant", Variant::Null());
        scope.Parent = &types;
    }
    TfsScript types, scope;
};

struct Case {
    const char* prototype;
    const char* expected;
};

TEST_F(PrototypeTest, ReadsDeclarations) {
    const Case cases[] = {
        {"function Copy(s: String; from, count: Integer): String",
         "function Copy: String/4 (s: String/4; from: Integer/0; count: Integer/0)"},
        {"procedure Inc(var i: Integer; incr: Integer = 1)",
         "procedure Inc: /5 (var i: Integer/0; incr: Integer/0 = Integer 1?)"},
        {"function F(a, b: Integer = 5): Integer",
         "function F: Integer/0 (a: Integer/0; b: Integer/0 = Integer 5?)"},
        {"function GetVariableCount:integer", "function GetVariableCount: integer/0 ()"},
        {"function Minutes2HHMM(const Minutes: Double; const Separator: Char = ':'): string",
         "function Minutes2HHMM: string/4 (Minutes: Double/2; Separator: Char/3 = String :?)"},
        {"macroFunction Quote(s: String): String", "macro function Quote: String/4 (s: String/4)"},
        {"macroprocedure Trace(s: String)", "macro procedure Trace: /5 (s: String/4)"},
        {"function Format(Fmt: String; Args: array of const): String",
         "function Format: String/4 (Fmt: String/4; Args: array/6)"},
        {"function IsValidDateWeek(const AYear, AWeekOfYear, {ISO 8601} ADayOfWeek: Word): Boolean",
         "function IsValidDateWeek: Boolean/1 (AYear: Word/0; AWeekOfYear: Word/0; "
         "ADayOfWeek: Word/0)"},
        {"function Str2Date(const DateStr: string; const ImplyHistoric: Boolean = False): "
         "TDateTime",
         "function Str2Date: TDateTime/2 (DateStr: string/4; ImplyHistoric: Boolean/1 = Boolean "
         "False?)"},
        {"procedure P(x: Integer = -5; y: Double = -1.5; s: String = 'it''s'#33; n: Integer = $1F)",
         "procedure P: /5 (x: Integer/0 = Integer -5?; y: Double/2 = Double -1.5?; "
         "s: String/4 = String it's!?; n: Integer/0 = Integer 31?)"},
        {"procedure Q(w: Integer = MaxLen; v: Variant = NothingYet)",
         "procedure Q: /5 (w: Integer/0 = Integer 80?; v: Variant/7)"},
        {"function Today(): TDateTime", "function Today: TDateTime/2 ()"},
        {"function BoolToStr(B: Boolean): string;", "function BoolToStr: string/4 (B: Boolean/1)"},
        {"function StrToInt64(s: String): Int64", "function StrToInt64: Int64/5 (s: String/4)"},
        {"procedure Decode(Date: TDateTime; var Year, Month: Word) (* done *) // note",
         "procedure Decode: /5 (Date: TDateTime/2; var Year: Word/0; var Month: Word/0)"},
        {"FUNCTION Big(x: Integer = -2147483648; y: Integer = 3000000000): Integer",
         "function Big: Integer/0 (x: Integer/0 = Integer -2147483648?; y: Integer/0 = Int64 "
         "3000000000?)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prototype);
        TfsMethodHelper h(c.prototype, &scope);
        EXPECT_EQ(Describe(h), c.expected);
        EXPECT_EQ(h.Prototype, c.prototype);
        EXPECT_TRUE(h.ReadOnly);
    }
}

TEST_F(PrototypeTest, RequiredParamCountCountsParametersWithoutDefault) {
    TfsMethodHelper inc("procedure Inc(var i: Integer; incr: Integer = 1)", &scope);
    EXPECT_EQ(inc.ParamCount(), 2);
    EXPECT_EQ(inc.RequiredParamCount(), 1);
    EXPECT_TRUE(inc.Param(0)->ByReference);
    EXPECT_FALSE(inc.Param(0)->Optional);
    TfsMethodHelper f("function F(a, b: Integer = 5): Integer", &scope);
    EXPECT_EQ(f.RequiredParamCount(), 1);
    EXPECT_FALSE(f.Param(0)->Optional);
    EXPECT_TRUE(f.Param(0)->DefaultValue.IsNull());
    EXPECT_EQ(f.Param(1)->DefaultValue.ToInt(), 5);
}

TEST_F(PrototypeTest, MalformedPrototypesRaiseNamingTheText) {
    const char* bad[] = {
        "",
        "function",
        "function (a: Integer): Integer",
        "procedure P(a: Integer",
        "procedure P(a: Integer))",
        "procedure P)a: Integer(",
        "procedure P(a Integer)",
        "procedure P(a: Integer = Unknown)",
        "procedure P(a: Integer = )",
        "procedure P(a: Integer = 'open)",
        "procedure P(: Integer)",
        "procedure P(a: Integer; )",
        "procedure P(a, : Integer)",
        "function F",
        "procedure P(a: 5)",
        "procedure P(a: Integer = #)",
        "123",
    };
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        try {
            TfsMethodHelper h(text, &scope);
            ADD_FAILURE() << "accepted: " << Describe(h);
        } catch (const EScriptError& e) {
            EXPECT_NE(e.message().find("Invalid prototype '" + std::string(text) + "'"),
                      std::string::npos)
                << e.message();
        }
    }
}

TEST_F(PrototypeTest, MalformedPrototypeAddsNothingToTheScope) {
    const int before = scope.ItemCount();
    EXPECT_THROW(scope.DeclareMethod("procedure P(a: Integer", TfsHelperCallEvent{}), EScriptError);
    EXPECT_EQ(scope.ItemCount(), before);
}

} // namespace
} // namespace pt
