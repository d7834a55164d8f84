#include <gtest/gtest.h>

#include "platform/FormatSettings.h"
#include "script/runtime/fs_errors.h"
#include "script/runtime/fs_operators.h"

#include <cmath>
#include <limits>

namespace pt {
namespace {

class OperatorTest : public ::testing::Test {
protected:
    void SetUp() override { SetFormatSettings(DefaultFormatSettings()); }
};

template <typename F> std::string ErrorOf(F f) {
    try {
        f();
    } catch (const EScriptError& e) {
        return e.className() + ": " + e.message();
    }
    return "";
}

// "Kind:text" of a result, so one string states both.
std::string Show(const Variant& v) {
    return KindName(v.Kind()) + ":" + v.ToStrLoose();
}

const char* OpName(TfsOperation op) {
    static const char* const names[] = {"+",   "-",   "*",   "/",  "div", "mod",
                                        "shl", "shr", "and", "or", "xor"};
    return names[op];
}

Variant D(double days) {
    return Variant::Date(days);
}
Variant Cur(int64_t scaled) {
    return Variant::Currency(scaled);
}

struct BinCase {
    Variant a;
    TfsOperation op;
    Variant b;
    const char* expected; // Show() of the result
};

TEST_F(OperatorTest, BinaryOperatorsByClass) {
    const BinCase cases[] = {
        // Int
        {Variant(7), opAdd, Variant(2), "Integer:9"},
        {Variant(2147483647), opAdd, Variant(1), "Double:2147483648"},
        {Variant(-2147483647 - 1), opSub, Variant(1), "Double:-2147483649"},
        {Variant(65536), opMul, Variant(65536), "Double:4294967296"},
        {Variant(7), opDiv, Variant(2), "Double:3.5"},
        {Variant(7), opIntDiv, Variant(2), "Integer:3"},
        {Variant(-7), opIntDiv, Variant(2), "Integer:-3"},
        {Variant(-7), opMod, Variant(2), "Integer:-1"},
        {Variant(7), opMod, Variant(-2), "Integer:1"},
        {Variant(-2147483647 - 1), opIntDiv, Variant(-1), "Double:2147483648"},
        {Variant(-2147483647 - 1), opMod, Variant(-1), "Integer:0"},
        {Variant(1), opShl, Variant(33), "Integer:2"},
        {Variant(1), opShl, Variant(31), "Integer:-2147483648"},
        {Variant(-1), opShr, Variant(28), "Integer:15"},
        {Variant(12), opAnd, Variant(10), "Integer:8"},
        {Variant(12), opOr, Variant(10), "Integer:14"},
        {Variant(12), opXor, Variant(10), "Integer:6"},
        {Variant::Byte(200), opAdd, Variant::Smallint(100), "Integer:300"},
        {Variant(), opAdd, Variant(5), "Integer:5"},
        {Variant(true), opAdd, Variant(1), "Integer:0"},
        {Variant(true), opAnd, Variant(6), "Integer:6"},
        // Float
        {Variant(1.5), opAdd, Variant(2), "Double:3.5"},
        {Variant(7.5), opIntDiv, Variant(2), "Integer:4"},
        {Variant(2.5), opMod, Variant(2), "Integer:0"},
        {Variant::Single(0.5f), opMul, Variant(4), "Double:2"},
        {Variant(1.0), opDiv, Variant(0), "Double:INF"},
        {Variant(int64_t{3}), opAdd, Variant(0.5), "Double:3.5"},
        // Str
        {Variant("1"), opAdd, Variant(2), "Double:3"},
        {Variant(2), opAdd, Variant("1"), "Double:3"},
        {Variant("1"), opAdd, Variant("2"), "String:12"},
        {Variant("ab"), opAdd, Variant::Wide(u"cd"), "String:abcd"},
        {Variant::Wide(u"ab"), opAdd, Variant("cd"), "OleStr:abcd"},
        {Variant(), opAdd, Variant("x"), "OleStr:x"},
        {Variant("x"), opAdd, Variant(), "String:x"},
        {Variant("10"), opSub, Variant("4"), "Double:6"},
        {Variant("10"), opIntDiv, Variant("4"), "Integer:2"},
        {Variant("3"), opShl, Variant(2),
         "Integer:12"}, // Str/Int is the Float class: shl on integers
        {Variant("2.5"), opMul, Variant(int64_t{2}), "Double:5"},
        // Bool
        {Variant(true), opAdd, Variant(true), "Double:-2"},
        {Variant(true), opAnd, Variant("False"), "Boolean:False"},
        {Variant(true), opOr, Variant(false), "Boolean:True"},
        {Variant(true), opXor, Variant(true), "Boolean:False"},
        {Variant("True"), opXor, Variant(false), "Boolean:True"},
        {Variant(true), opIntDiv, Variant(true), "Integer:1"},
        {Variant(true), opAdd, Variant(int64_t{5}), "Int64:4"},
        // Null
        {Variant::Null(), opAdd, Variant(1), "Null:"},
        {Variant(1), opMul, Variant::Null(), "Null:"},
        {Variant::Null(), opIntDiv, Variant(0), "Null:"},
        {Variant::Null(), opAnd, Variant(false), "Boolean:False"},
        {Variant::Null(), opAnd, Variant(true), "Null:"},
        {Variant(false), opAnd, Variant::Null(), "Boolean:False"},
        {Variant(true), opAnd, Variant::Null(), "Null:"},
        {Variant::Null(), opAnd, Variant::Null(), "Null:"},
        {Variant::Null(), opOr, Variant(true), "Boolean:True"},
        {Variant::Null(), opOr, Variant(false), "Null:"},
        {Variant(true), opOr, Variant::Null(), "Boolean:True"},
        {Variant(false), opOr, Variant::Null(), "Null:"},
        {Variant::Null(), opOr, Variant::Null(), "Null:"},
        {Variant::Null(), opXor, Variant(true), "Null:"},
        // Empty with Empty
        {Variant(), opAdd, Variant(), "Empty:"},
        {Variant(), opAnd, Variant(), "Empty:"},
        // Currency
        {Cur(15000), opAdd, Cur(2500), "Currency:1.75"},
        {Cur(15000), opSub, Variant(2), "Currency:-0.5"},
        {Cur(15000), opMul, Variant(3), "Currency:4.5"},
        {Cur(15), opMul, Cur(5000), "Currency:0.0008"}, // 0.0015 * 0.5 = 0.00075, to even
        {Cur(15000), opMul, Variant(0.5), "Currency:0.75"},
        {Cur(10000), opDiv, Variant(3), "Currency:0.3333"},
        {Cur(10000), opDiv, Cur(40000), "Currency:0.25"},
        {Cur(10000), opDiv, Variant(0.5), "Currency:2"},
        {Variant(1), opDiv, Cur(40000), "Double:0.25"},
        {Cur(75000), opIntDiv, Variant(2), "Integer:4"}, // 7.5 rounds to 8
        {Variant("1.5"), opAdd, Cur(10000), "Currency:2.5"},
        // Date
        {D(45356.5), opAdd, Variant(1), "Date:3/6/2024 12:00:00 PM"},
        {D(45356.5), opSub, D(45355.25), "Double:1.25"},
        {D(45356), opSub, Variant(1), "Date:3/4/2024"},
        {Variant(1), opAdd, D(45356), "Date:3/6/2024"},
        {D(45356), opMul, Variant(2), "Double:90712"},
        {D(45356.5), opIntDiv, Variant(2), "Integer:22678"},
        {D(45356), opAdd, Variant("1.5"), "Date:3/6/2024 12:00:00 PM"},
        // I64
        {Variant(int64_t{3000000000LL}), opAdd, Variant(1), "Int64:3000000001"},
        {Variant(int64_t{INT64_MAX}), opAdd, Variant(1), "Int64:-9223372036854775808"},
        {Variant(int64_t{INT64_MIN}), opSub, Variant(1), "Int64:9223372036854775807"},
        {Variant(int64_t{INT64_MAX}), opMul, Variant(2), "Double:1.84467440737096E19"},
        {Variant(int64_t{7}), opDiv, Variant(2), "Double:3.5"},
        {Variant(int64_t{-7}), opMod, Variant(int64_t{2}), "Int64:-1"},
        {Variant(int64_t{1}), opShl, Variant(63), "Int64:-9223372036854775808"},
        {Variant(int64_t{1}), opShl, Variant(64), "Int64:0"},
        {Variant(int64_t{-1}), opShr, Variant(60), "Int64:15"},
        {Variant(int64_t{-1}), opShr, Variant(64), "Int64:0"},
        {Variant(int64_t{-1}), opShr, Variant(-1), "Int64:0"},
        {Variant::Word(65535), opAdd, Variant::Word(1), "Int64:65536"},
        {Variant::LongWord(4294967295u), opAdd, Variant(1), "Int64:4294967296"},
        {Variant(int64_t{6}), opXor, Variant(int64_t{3}), "Int64:5"},
        {Variant(int64_t{INT64_MIN}), opIntDiv, Variant(-1), "Double:9.22337203685478E18"},
    };
    for (const BinCase& c : cases) {
        Variant r = VarBinaryOp(c.op, c.a, c.b);
        EXPECT_EQ(Show(r), c.expected) << Show(c.a) << " " << OpName(c.op) << " " << Show(c.b);
    }
}

TEST_F(OperatorTest, OperatorErrors) {
    Variant arr = Variant::Array({Variant(1)});
    PtValue dispatch{};
    dispatch.vt = varDispatch;
    const Variant& disp = Variant::FromRaw(dispatch);
    const char* invalid = "EVariantInvalidOpError: Invalid variant operation";
    const char* divZero = "EDivByZero: Division by zero";
    const struct {
        Variant a;
        TfsOperation op;
        Variant b;
        const char* error;
    } cases[] = {
        {Variant("a"), opAdd, Variant(1),
         "EVariantTypeCastError: Could not convert variant of type (String) into type (Double)"},
        {Variant(1), opAdd, Variant("a"),
         "EVariantTypeCastError: Could not convert variant of type (String) into type (Double)"},
        {Variant("x"), opAnd, Variant(true),
         "EVariantTypeCastError: Could not convert variant of type (String) into type (Boolean)"},
        {arr, opAdd, Variant(1), invalid},
        {Variant(1), opSub, arr, invalid},
        {Variant::Null(), opAdd, arr, invalid},
        {disp, opAdd, Variant(), invalid},
        {Variant(7), opIntDiv, Variant(0), divZero},
        {Variant(7), opMod, Variant(0), divZero},
        {Variant(int64_t{7}), opMod, Variant(int64_t{0}), divZero},
        {Variant(7.5), opIntDiv, Variant(0.2), divZero},
        {Variant(), opIntDiv, Variant(), divZero},
        {Variant(), opMod, Variant(), divZero},
        {Variant(), opDiv, Variant(), "EZeroDivide: Floating point division by zero"},
        {Cur(10000), opDiv, Variant(0), "EZeroDivide: Floating point division by zero"},
        {Cur(INT64_MAX), opAdd, Cur(1),
         "EVariantOverflowError: Overflow while converting variant of type (Currency) into type "
         "(Currency)"},
        {Variant(3e9), opIntDiv, Variant(2),
         "EVariantOverflowError: Overflow while converting variant of type (Double) into type "
         "(Integer)"},
        {Variant(std::numeric_limits<double>::quiet_NaN()), opAnd, Variant(1),
         "EVariantTypeCastError: Could not convert variant of type (Double) into type (Integer)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorOf([&] { (void)VarBinaryOp(c.op, c.a, c.b); }), c.error)
            << Show(c.a) << " " << OpName(c.op);
    EXPECT_EQ(ErrorOf([&] { (void)VarCompare(cmpEq, arr, Variant(1)); }), invalid);
    EXPECT_EQ(ErrorOf([&] { (void)VarNot(arr); }), invalid);
    EXPECT_EQ(ErrorOf([&] { (void)VarNeg(disp); }), invalid);
}

TEST_F(OperatorTest, FailedOperationLeavesTheTargetUnchanged) {
    Variant s("keep");
    EXPECT_THROW(VarBinaryOpInPlace(opSub, s, Variant("x")), EScriptError);
    EXPECT_EQ(Show(s), "String:keep");
    Variant n(5);
    EXPECT_THROW(VarBinaryOpInPlace(opIntDiv, n, Variant(0)), EScriptError);
    EXPECT_EQ(Show(n), "Integer:5");
}

struct CmpCase {
    Variant a;
    Variant b;
    const char* expected; // results of = <> < <= > >= as six digits
};

TEST_F(OperatorTest, ComparisonsByClass) {
    const CmpCase cases[] = {
        {Variant(1), Variant(2), "011100"},
        {Variant(2), Variant(2), "100101"},
        {Variant(2.5), Variant(2), "010011"},
        {Variant("abc"), Variant("abd"), "011100"},
        {Variant("B"), Variant("a"), "011100"},        // byte order
        {Variant("ab"), Variant("abc"), "011100"},     // prefix is less
        {Variant("\xc3\xa9"), Variant("z"), "010011"}, // UTF-8 bytes above ASCII
        {Variant::Wide(u"b"), Variant("a"), "010011"},
        {Variant("10"), Variant(9), "010011"},   // number, not text, comparison
        {Variant("10"), Variant("9"), "011100"}, // text comparison
        {Variant::Null(), Variant::Null(), "100101"},
        {Variant::Null(), Variant(0), "011100"},
        {Variant(0), Variant::Null(), "010011"},
        {Variant::Null(), Variant(""), "011100"},
        {Variant(), Variant(0), "100101"},
        {Variant(), Variant(""), "100101"},
        {Variant(), Variant(), "100101"},
        {Variant(), Variant(-1), "010011"},
        {Variant(false), Variant(true), "011100"},
        {Variant(true), Variant("True"), "100101"},
        {Variant(true), Variant(-1), "100101"}, // Bool/Int compares as integers
        {Cur(10000), Variant(1), "100101"},
        {Cur(10001), Variant(1.0), "010011"},
        {D(45356), Variant(45356), "100101"},
        {D(45356.5), D(45356), "010011"},
        {Variant(int64_t{1} << 40), Variant(1), "010011"},
        {Variant::LongWord(4294967295u), Variant(-1), "010011"},
        {Variant(std::numeric_limits<double>::quiet_NaN()), Variant(1.0), "010000"},
    };
    const TfsCompare cmps[] = {cmpEq, cmpNe, cmpLt, cmpLe, cmpGt, cmpGe};
    for (const CmpCase& c : cases) {
        std::string got;
        for (TfsCompare cmp : cmps) got += VarCompare(cmp, c.a, c.b) ? '1' : '0';
        EXPECT_EQ(got, c.expected) << Show(c.a) << " vs " << Show(c.b);
    }
    EXPECT_THROW((void)VarCompare(cmpLt, Variant("x"), Variant(1)), EScriptError);
}

TEST_F(OperatorTest, UnaryNotAndMinus) {
    const std::pair<Variant, const char*> nots[] = {
        {Variant(), "ShortInt:-1"},
        {Variant::Null(), "Null:"},
        {Variant(5), "Integer:-6"},
        {Variant(true), "Boolean:False"},
        {Variant("5"), "Integer:-6"},
        {Variant("False"), "Boolean:True"},
        {Variant("$F"), "Integer:-16"},
        {Variant::Byte(0), "Byte:255"},
        {Variant::Word(0), "Word:65535"},
        {Variant::LongWord(0), "LongWord:4294967295"},
        {Variant::Smallint(0), "Smallint:-1"},
        {Variant::ShortInt(5), "ShortInt:-6"},
        {Variant(int64_t{0}), "Int64:-1"},
        {Variant(2.5), "Integer:-3"},
        {Variant(3e9), "Int64:-3000000001"},
        {Cur(15000), "Integer:-3"},
        {D(1.5), "Integer:-3"},
        {Variant("3000000000"), "Int64:-3000000001"},
    };
    for (const auto& [v, expected] : nots) EXPECT_EQ(Show(VarNot(v)), expected) << Show(v);
    EXPECT_THROW(VarNot(Variant("maybe")), EScriptError);

    const std::pair<Variant, const char*> negs[] = {
        {Variant(), "Smallint:0"},
        {Variant::Null(), "Null:"},
        {Variant(5), "Integer:-5"},
        {Variant::Smallint(-3), "Smallint:3"},
        {Variant::ShortInt(4), "ShortInt:-4"},
        {Variant::Single(1.5f), "Single:-1.5"},
        {Variant(2.5), "Double:-2.5"},
        {Cur(15000), "Currency:-1.5"},
        {D(2), "Date:12/28/1899"},
        {Variant(int64_t{3000000000LL}), "Int64:-3000000000"},
        {Variant::Byte(200), "Smallint:-200"},
        {Variant::Word(60000), "Integer:-60000"},
        {Variant::LongWord(5), "Integer:-5"},
        {Variant::LongWord(4294967295u), "Int64:-4294967295"},
        {Variant(true), "Smallint:-1"},
        {Variant(false), "Smallint:0"},
        {Variant("2.5"), "Double:-2.5"},
        {Variant(-2147483647 - 1), "Int64:2147483648"},
        {Variant::Smallint(-32768), "Integer:32768"},
        {Variant::ShortInt(-128), "Smallint:128"},
        {Variant(int64_t{INT64_MIN}), "Double:9.22337203685478E18"},
    };
    for (const auto& [v, expected] : negs) EXPECT_EQ(Show(VarNeg(v)), expected) << Show(v);
    EXPECT_THROW(VarNeg(Cur(INT64_MIN)), EScriptError);
    EXPECT_THROW(VarNeg(Variant("x")), EScriptError);
}

TEST_F(OperatorTest, ByReferenceOperandsUseTheirTarget) {
    int32_t target = 40;
    PtValue ref{};
    ref.vt = varByRef | varInteger;
    ref.u.ptr = &target;
    EXPECT_EQ(Show(VarBinaryOp(opAdd, Variant::FromRaw(ref), Variant(2))), "Integer:42");
    EXPECT_TRUE(VarCompare(cmpEq, Variant::FromRaw(ref), Variant(40)));
    EXPECT_EQ(Show(VarNeg(Variant::FromRaw(ref))), "Integer:-40");
}

TEST_F(OperatorTest, StringAppendInPlaceKeepsSharedCopiesIntact) {
    Variant s("a");
    Variant shared = s; // refcount 2: must not be written through
    VarBinaryOpInPlace(opAdd, s, Variant("b"));
    EXPECT_EQ(Show(s), "String:ab");
    EXPECT_EQ(Show(shared), "String:a");

    // Sole owner: extended in place, many times, with conversion of wide pieces.
    std::string expected;
    Variant built("");
    for (int i = 0; i < 1000; ++i) {
        const char c = static_cast<char>('a' + i % 26);
        if (i % 100 == 0) {
            VarBinaryOpInPlace(opAdd, built, Variant::Wide(u"\u00e9"));
            expected += "\xc3\xa9";
        }
        VarBinaryOpInPlace(opAdd, built, Variant(std::string(1, c)));
        expected += c;
    }
    EXPECT_EQ(built.StrView(), expected);
    EXPECT_EQ(pt_str_bytes(built.Raw().u.str), expected.size());
    EXPECT_EQ(built.Raw().u.str[expected.size()], '\0');

    Variant w = Variant::Wide(u"x");
    VarBinaryOpInPlace(opAdd, w, Variant("\xf0\x9f\x98\x80"));
    EXPECT_EQ(w.Kind(), varOleStr);
    EXPECT_EQ(std::u16string(w.WideView()), u"x\U0001F600");

    Variant self("ab");
    VarBinaryOpInPlace(opAdd, self, self);
    EXPECT_EQ(Show(self), "String:abab");

    Variant moved = VarBinaryOp(opAdd, Variant("left"), Variant("right"));
    EXPECT_EQ(Show(moved), "String:leftright");
    // Left operands whose payload is no string pointer take the general path.
    EXPECT_EQ(Show(VarBinaryOp(opAdd, Variant::Currency(15000), Variant("2"))), "Currency:3.5");
    EXPECT_EQ(Show(VarBinaryOp(opAdd, Variant(int64_t{1} << 40), Variant("5"))), "Double:1099511627781");
    Variant d(0.5);
    VarBinaryOpInPlace(opAdd, d, Variant::Wide(u"1"));
    EXPECT_EQ(Show(d), "Double:1.5");
    // Not a string pair: the numeric class still applies.
    Variant num("1");
    VarBinaryOpInPlace(opAdd, num, Variant(2));
    EXPECT_EQ(Show(num), "Double:3");
}

} // namespace
} // namespace pt
