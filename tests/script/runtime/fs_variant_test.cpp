#include <gtest/gtest.h>

#include "platform/FormatSettings.h"
#include "script/runtime/fs_errors.h"
#include "script/runtime/fs_variant.h"

#include <cmath>
#include <limits>

namespace pt {
namespace {

class VariantTest : public ::testing::Test {
protected:
    void SetUp() override { SetFormatSettings(DefaultFormatSettings()); }
    void TearDown() override { SetFormatSettings(DefaultFormatSettings()); }
    static void UseCommaDecimal() {
        TFormatSettings fs = DefaultFormatSettings();
        fs.DecimalSeparator = ',';
        fs.ThousandSeparator = '.';
        SetFormatSettings(fs);
    }
};

// Runs `f` and returns "Class: message" of the EScriptError it raises ("" if none).
template <typename F> std::string ErrorOf(F f) {
    try {
        f();
    } catch (const EScriptError& e) {
        return e.className() + ": " + e.message();
    }
    return "";
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

TEST(VariantKindName, NamesFlagsAndUnknownCodes) {
    const std::pair<uint16_t, const char*> cases[] = {
        {varEmpty, "Empty"},
        {varNull, "Null"},
        {varSmallint, "Smallint"},
        {varInteger, "Integer"},
        {varSingle, "Single"},
        {varDouble, "Double"},
        {varCurrency, "Currency"},
        {varDate, "Date"},
        {varOleStr, "OleStr"},
        {varDispatch, "Dispatch"},
        {varError, "Error"},
        {varBoolean, "Boolean"},
        {varVariant, "Variant"},
        {varUnknown, "Unknown"},
        {14, "Decimal"},
        {15, "$0F"},
        {varShortInt, "ShortInt"},
        {varByte, "Byte"},
        {varWord, "Word"},
        {varLongWord, "LongWord"},
        {varInt64, "Int64"},
        {varString, "String"},
        {varAny, "Any"},
        {varStrArg, "$0048"},
        {21, "$0015"},
        {varArray | varVariant, "Array Variant"},
        {varByRef | varDouble, "ByRef Double"},
        {varByRef | varArray | varInteger, "ByRef Array Integer"},
    };
    for (auto [kind, name] : cases) EXPECT_EQ(KindName(kind), name) << kind;
}

TEST(VariantBasics, SixteenBytesAndSharedStrings) {
    static_assert(sizeof(Variant) == 16);
    Variant a("hello");
    Variant b = a;
    EXPECT_EQ(a.Raw().u.str, b.Raw().u.str);
    EXPECT_EQ(*pt_str_refp(a.Raw().u.str), 2);
    b = Variant(5);
    EXPECT_EQ(*pt_str_refp(a.Raw().u.str), 1);
    Variant c = std::move(a);
    EXPECT_TRUE(a.IsEmpty());
    EXPECT_EQ(c.StrView(), "hello");
    Variant empty("");
    EXPECT_EQ(empty.Kind(), varString);
    EXPECT_EQ(empty.Raw().u.str, nullptr);
}

TEST(VariantBasics, AssigningAnElementOfItsOwnArray) {
    // The element lives in the array that the assignment releases.
    Variant a = Variant::Array({Variant(std::string(100, 'x')), Variant(1)});
    Variant other = a; // shared array
    a = a[0];
    EXPECT_EQ(a.Kind(), varString);
    EXPECT_EQ(a.StrView(), std::string(100, 'x'));
    Variant b = Variant::Array({Variant(std::string(50, 'y'))});
    b = std::move(b[0]);
    EXPECT_EQ(b.StrView(), std::string(50, 'y'));
    EXPECT_EQ(other[0].StrView(), std::string(100, 'x'));
}

TEST_F(VariantTest, ToIntTable) {
    struct Case {
        Variant v;
        int32_t expected;
    };
    const Case cases[] = {
        {Variant(), 0},
        {Variant(42), 42},
        {Variant::Smallint(-7), -7},
        {Variant::ShortInt(-128), -128},
        {Variant::Byte(255), 255},
        {Variant::Word(65535), 65535},
        {Variant::LongWord(2147483647u), 2147483647},
        {Variant(int64_t{-2147483648LL}), INT32_MIN},
        {Variant(2.5), 2},
        {Variant(3.5), 4},
        {Variant(-2.5), -2},
        {Variant(-0.5), 0},
        {Variant(2.4999), 2},
        {Variant::Single(1.5f), 2},
        {Variant::Date(45000.75), 45001},
        {Variant::Currency(25000), 2}, // 2.5 -> 2
        {Variant::Currency(35000), 4}, // 3.5 -> 4
        {Variant::Currency(-15001), -2},
        {Variant(true), -1},
        {Variant(false), 0},
        {Variant("12"), 12},
        {Variant(" -12 "), -12},
        {Variant("$FF"), 255},
        {Variant("2.5"), 2},
        {Variant("1e3"), 1000},
        {Variant("1,000"), 1000},
        {Variant("True"), 1},
        {Variant("false"), 0},
        {Variant::Wide(u"77"), 77},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.v.ToInt(), c.expected) << KindName(c.v.Kind()) << " " << c.v.ToStrLoose();
}

TEST_F(VariantTest, IntegerConversionErrorsNameBothKinds) {
    struct Case {
        Variant v;
        const char* error;
    };
    const Case cases[] = {
        {Variant::Null(),
         "EVariantTypeCastError: Could not convert variant of type (Null) into type (Integer)"},
        {Variant("x"),
         "EVariantTypeCastError: Could not convert variant of type (String) into type (Boolean)"},
        {Variant(""),
         "EVariantTypeCastError: Could not convert variant of type (String) into type (Boolean)"},
        {Variant("1,5"),
         "EVariantTypeCastError: Could not convert variant of type (String) into type (Boolean)"},
        {Variant::LongWord(2147483648u), "EVariantOverflowError: Overflow while converting variant "
                                         "of type (LongWord) into type (Integer)"},
        {Variant(int64_t{3000000000LL}), "EVariantOverflowError: Overflow while converting variant "
                                         "of type (Int64) into type (Integer)"},
        {Variant(2147483647.5), "EVariantOverflowError: Overflow while converting variant of type "
                                "(Double) into type (Integer)"},
        {Variant(kInf), "EVariantOverflowError: Overflow while converting variant of type (Double) "
                        "into type (Integer)"},
        {Variant(-kInf), "EVariantOverflowError: Overflow while converting variant of type "
                         "(Double) into type (Integer)"},
        {Variant(kNaN),
         "EVariantTypeCastError: Could not convert variant of type (Double) into type (Integer)"},
        {Variant("3000000000"), "EVariantOverflowError: Overflow while converting variant of type "
                                "(String) into type (Integer)"},
        {Variant::Array({Variant(1)}), "EVariantTypeCastError: Could not convert variant of type "
                                       "(Array Variant) into type (Integer)"},
    };
    for (const Case& c : cases) EXPECT_EQ(ErrorOf([&] { (void)c.v.ToInt(); }), c.error);
}

TEST_F(VariantTest, ToInt64RangeAndPrecision) {
    EXPECT_EQ(Variant("9007199254740993").ToInt64(), 9007199254740993LL); // exact, not via double
    EXPECT_EQ(Variant("$FFFFFFFFFFFFFFFF").ToInt64(), -1);
    EXPECT_EQ(Variant(9.2e18).ToInt64(), 9200000000000000000LL);
    EXPECT_EQ(Variant::LongWord(4294967295u).ToInt64(), 4294967295LL);
    EXPECT_EQ(ErrorOf([] { (void)Variant(9.3e18).ToInt64(); }),
              "EVariantOverflowError: Overflow while converting variant of type (Double) into type "
              "(Int64)");
    EXPECT_EQ(
        ErrorOf([] { (void)Variant(kNaN).ToInt64(); }),
        "EVariantTypeCastError: Could not convert variant of type (Double) into type (Int64)");
}

TEST_F(VariantTest, ToDoubleTable) {
    struct Case {
        Variant v;
        double expected;
    };
    const Case cases[] = {
        {Variant(), 0.0},
        {Variant(7), 7.0},
        {Variant(true), -1.0},
        {Variant::Currency(12345), 1.2345},
        {Variant::Date(2.25), 2.25},
        {Variant("1.5"), 1.5},
        {Variant(" -2.5e2 "), -250.0},
        {Variant("1,234.5"), 1234.5},
        {Variant(".5"), 0.5},
        {Variant(int64_t{1} << 40), 1099511627776.0},
        {Variant::Single(0.25f), 0.25},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(c.v.ToDouble(), c.expected) << c.v.ToStrLoose();
    for (const char* bad : {"a", "", "1.5x", "$10", "1e400", "nan", "inf", "1,23", "1.2.3", "e5"})
        EXPECT_EQ(
            ErrorOf([&] { (void)Variant(bad).ToDouble(); }),
            "EVariantTypeCastError: Could not convert variant of type (String) into type (Double)")
            << bad;
    EXPECT_EQ(ErrorOf([] { (void)Variant::Null().ToDouble(); }),
              "EVariantTypeCastError: Could not convert variant of type (Null) into type (Double)");
}

TEST_F(VariantTest, RegionalDecimalSeparator) {
    UseCommaDecimal();
    EXPECT_DOUBLE_EQ(Variant("1,5").ToDouble(), 1.5);
    EXPECT_DOUBLE_EQ(Variant("1.234,5").ToDouble(), 1234.5);
    EXPECT_THROW((void)Variant("1.5").ToDouble(), EScriptError);
    EXPECT_EQ(Variant(1.5).ToStr(), "1,5");
    EXPECT_EQ(Variant::Currency(15000).ToStr(), "1,5");
}

TEST_F(VariantTest, ToBoolTable) {
    struct Case {
        Variant v;
        bool expected;
    };
    const Case cases[] = {
        {Variant(), false},
        {Variant(0), false},
        {Variant(2), true},
        {Variant(0.0), false},
        {Variant(0.1), true},
        {Variant("TRUE"), true},
        {Variant("false"), false},
        {Variant(" True "), true},
        {Variant("0"), false},
        {Variant("-1"), true},
        {Variant("0.0"), false},
        {Variant::Currency(1), true},
        {Variant::Wide(u"True"), true},
        {Variant::Byte(0), false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.v.ToBool(), c.expected) << c.v.ToStrLoose();
    EXPECT_EQ(
        ErrorOf([] { (void)Variant("yes").ToBool(); }),
        "EVariantTypeCastError: Could not convert variant of type (String) into type (Boolean)");
    EXPECT_EQ(
        ErrorOf([] { (void)Variant::Null().ToBool(); }),
        "EVariantTypeCastError: Could not convert variant of type (Null) into type (Boolean)");
}

TEST_F(VariantTest, ToStrTable) {
    struct Case {
        Variant v;
        const char* expected;
    };
    const Case cases[] = {
        {Variant(), ""},
        {Variant(-42), "-42"},
        {Variant(int64_t{3000000000LL}), "3000000000"},
        {Variant::LongWord(4294967295u), "4294967295"},
        {Variant::Byte(200), "200"},
        {Variant(true), "True"},
        {Variant(false), "False"},
        {Variant(3.0), "3"},
        {Variant(0.1), "0.1"},
        {Variant::Currency(12345678), "1234.5678"},
        {Variant::Currency(-1), "-0.0001"},
        {Variant::Currency(1000000), "100"},
        {Variant::Currency(INT64_MIN), "-922337203685477.5808"},
        {Variant::Date(45356.0), "3/5/2024"},
        {Variant::Date(45356.5), "3/5/2024 12:00:00 PM"},
        {Variant::Date(0.25), "6:00:00 AM"},
        {Variant::Wide(u"h\u00e9\U0001F600"), "h\xc3\xa9\xf0\x9f\x98\x80"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.v.ToStr(), c.expected) << KindName(c.v.Kind());
    EXPECT_EQ(ErrorOf([] { (void)Variant::Null().ToStr(); }),
              "EVariantTypeCastError: Could not convert variant of type (Null) into type (String)");
    EXPECT_EQ(Variant::Null().ToStrLoose(), "");
    EXPECT_EQ(ErrorOf([] { (void)Variant::Date(1e300).ToStr(); }),
              "EVariantTypeCastError: Could not convert variant of type (Date) into type (String)");
}

// Expected texts come from the standard Pascal run-time library's FloatToStr.
TEST(FloatToText, FifteenSignificantDigitsGeneralFormat) {
    const TFormatSettings fs = DefaultFormatSettings();
    const std::pair<double, const char*> cases[] = {
        {0.1, "0.1"},
        {1.0 / 3, "0.333333333333333"},
        {2.0 / 3, "0.666666666666667"},
        {1e15, "1E15"},
        {1e14, "100000000000000"},
        {123456789012345.6, "123456789012346"},
        {0.00001, "0.00001"},
        {0.000001, "1E-6"},
        {0.0001234, "0.0001234"},
        {1e20, "1E20"},
        {1.5e-7, "1.5E-7"},
        {-2.5, "-2.5"},
        {100, "100"},
        {1e-300, "1E-300"},
        {1.7976931348623157e308, "1.79769313486232E308"},
        {0.1 + 0.2, "0.3"},
        {5e-324, "4.94065645841247E-324"},
        {-0.0, "0"},
        {12345678901234567890.0, "1.23456789012346E19"},
        {9.999999999999999e14, "1E15"},
        {999999999999999.4, "999999999999999"},
        {2147483648.0, "2147483648"},
        {kNaN, "NAN"},
        {kInf, "INF"},
        {-kInf, "-INF"},
    };
    for (auto [x, text] : cases) EXPECT_EQ(FloatToText(x, fs), text) << x;
}

TEST(TextToNumber, IntegerForms) {
    const std::pair<const char*, int64_t> good[] = {
        {"12", 12},
        {"$FF", 255},
        {"$ff", 255},
        {" 12", 12},
        {"-$10", -16},
        {"0x10", 16},
        {"x10", 16},
        {"+5", 5},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775807", INT64_MAX},
    };
    for (auto [text, value] : good) {
        int64_t v = 0;
        EXPECT_TRUE(TryTextToInt64(text, v)) << text;
        EXPECT_EQ(v, value) << text;
    }
    for (const char* bad :
         {"12 ", "9223372036854775808", "", "-", "$", "#12", "1.0", "$10000000000000000", "1 2"}) {
        int64_t v;
        EXPECT_FALSE(TryTextToInt64(bad, v)) << bad;
    }
}

TEST_F(VariantTest, ToCurrencyAndToDate) {
    EXPECT_EQ(Variant(1.23456).ToCurrency(), 12346);
    EXPECT_EQ(Variant(0.00005).ToCurrency(), 0); // tie to even
    EXPECT_EQ(Variant(7).ToCurrency(), 70000);
    EXPECT_EQ(Variant("2.5").ToCurrency(), 25000);
    EXPECT_EQ(ErrorOf([] { (void)Variant(1e15).ToCurrency(); }),
              "EVariantOverflowError: Overflow while converting variant of type (Double) into type "
              "(Currency)");
    EXPECT_EQ(ErrorOf([] { (void)Variant(int64_t{INT64_MAX}).ToCurrency(); }),
              "EVariantOverflowError: Overflow while converting variant of type (Int64) into type "
              "(Currency)");
    EXPECT_DOUBLE_EQ(Variant(5).ToDate(), 5.0);
    EXPECT_DOUBLE_EQ(Variant("3/5/2024").ToDate(), 45356.0);
    EXPECT_DOUBLE_EQ(Variant("3/5/2024 6:00 PM").ToDate(), 45356.75);
    EXPECT_DOUBLE_EQ(Variant("2024-03-05T06:00:00").ToDate(), 45356.25);
    EXPECT_DOUBLE_EQ(Variant("45356.5").ToDate(), 45356.5);
    EXPECT_EQ(ErrorOf([] { (void)Variant("soon").ToDate(); }),
              "EVariantTypeCastError: Could not convert variant of type (String) into type (Date)");
}

TEST_F(VariantTest, ToKindGivesExactlyThatKind) {
    struct Case {
        Variant v;
        uint16_t kind;
        const char* text;
    };
    const Case cases[] = {
        {Variant(300), varSmallint, "300"},    {Variant("12"), varByte, "12"},
        {Variant(65535), varWord, "65535"},    {Variant(2.5), varInteger, "2"},
        {Variant(7), varString, "7"},          {Variant(7), varOleStr, "7"},
        {Variant(1.5), varSingle, "1.5"},      {Variant(1.5), varCurrency, "1.5"},
        {Variant(2), varDate, "1/1/1900"},     {Variant("1"), varBoolean, "True"},
        {Variant(7), varInt64, "7"},           {Variant(7), varVariant, "7"},
        {Variant::Wide(u"x"), varString, "x"}, {Variant("-1"), varShortInt, "-1"},
    };
    for (const Case& c : cases) {
        Variant r = c.v.ToKind(c.kind);
        EXPECT_EQ(r.Kind(), c.kind == varVariant ? c.v.Kind() : c.kind) << KindName(c.kind);
        EXPECT_EQ(r.ToStr(), c.text) << KindName(c.kind);
    }
    EXPECT_EQ(Variant(5).ToKind(varEmpty).Kind(), varEmpty);
    EXPECT_EQ(Variant(5).ToKind(varNull).Kind(), varNull);
    const std::pair<Variant, uint16_t> overflows[] = {
        {Variant(256), varByte},      {Variant(-1), varByte},     {Variant(32768), varSmallint},
        {Variant(-129), varShortInt}, {Variant(-1), varLongWord}, {Variant(65536), varWord},
        {Variant(1e39), varSingle},
    };
    for (const auto& [v, kind] : overflows)
        EXPECT_EQ(ErrorOf([&] {
                      (void)v.ToKind(kind);
                  }).rfind("EVariantOverflowError: Overflow while converting variant of type (", 0),
                  0u)
            << KindName(kind);
    EXPECT_EQ(
        ErrorOf([] { (void)Variant(1).ToKind(varDispatch); }),
        "EVariantTypeCastError: Could not convert variant of type (Integer) into type (Dispatch)");
}

TEST_F(VariantTest, ByReferenceValuesConvertThroughTheirTarget) {
    double d = 2.5;
    PtValue ref{};
    ref.vt = varByRef | varDouble;
    ref.u.ptr = &d;
    EXPECT_EQ(Variant::FromRaw(ref).ToInt(), 2);
    Variant inner("42");
    PtValue vref{};
    vref.vt = varByRef | varVariant;
    vref.u.ptr = &inner.Raw();
    EXPECT_EQ(Variant::FromRaw(vref).ToInt(), 42);
    EXPECT_EQ(Variant::FromRaw(vref).ToKind(varString).StrView(), "42");
    PtValue nullRef{};
    nullRef.vt = varByRef | varInteger;
    EXPECT_THROW((void)Variant::FromRaw(nullRef).ToInt(), EScriptError);
}

TEST(VariantText, Utf8AndUtf16RoundTrip) {
    const std::string utf8 = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80z";
    const std::u16string utf16 = u"a\u00e9\u20ac\U0001F600z";
    EXPECT_EQ(Utf8ToUtf16(utf8), utf16);
    EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
    EXPECT_EQ(Variant(utf8).ToWide(), utf16);
    EXPECT_EQ(Variant::Wide(utf16).ToStr(), utf8);
    // Malformed input becomes U+FFFD, never garbage.
    EXPECT_EQ(Utf8ToUtf16("a\xff"
                          "b"),
              u"a\uFFFDb");
    EXPECT_EQ(Utf8ToUtf16("\xed\xa0\x80"), u"\uFFFD");   // encoded surrogate
    EXPECT_EQ(Utf8ToUtf16("\xc0\xaf"), u"\uFFFD\uFFFD"); // overlong
    EXPECT_EQ(Utf8ToUtf16("\xe2\x82"), u"\uFFFD");       // truncated
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xef\xbf\xbdx");
    EXPECT_EQ(Variant::Null().ToWideLoose(), u"");
    EXPECT_THROW((void)Variant::Null().ToWide(), EScriptError);
}

TEST_F(VariantTest, ConstantFromText) {
    Variant big = ConstantFromText("3000000000");
    EXPECT_EQ(big.Kind(), varInt64);
    EXPECT_EQ(big.ToInt64(), 3000000000LL);
    EXPECT_EQ(ConstantFromText("12").Kind(), varInteger);
    EXPECT_EQ(ConstantFromText("2147483647").Kind(), varInteger);
    EXPECT_EQ(ConstantFromText("2147483648").Kind(), varInt64);
    EXPECT_EQ(ConstantFromText("$FF").ToInt(), 255);
    EXPECT_EQ(ConstantFromText("").Kind(), varNull);
    Variant s = ConstantFromText("'ab'");
    EXPECT_EQ(s.Kind(), varString);
    EXPECT_EQ(s.StrView(), "ab");
    EXPECT_EQ(ConstantFromText("''").StrView(), "");
    Variant f = ConstantFromText("1.5");
    EXPECT_EQ(f.Kind(), varDouble);
    EXPECT_EQ(f.ToDouble(), 1.5);
    EXPECT_EQ(ConstantFromText("99999999999999999999").Kind(), varDouble);
    EXPECT_EQ(ErrorOf([] { ConstantFromText("1.5.5"); }),
              "EConvertError: '1.5.5' is not a valid floating point value");
    EXPECT_EQ(ErrorOf([] { ConstantFromText("abc"); }),
              "EConvertError: 'abc' is not a valid floating point value");
    UseCommaDecimal();
    EXPECT_EQ(ConstantFromText("1.5").ToDouble(), 1.5);
    EXPECT_EQ(ConstantFromText("2.5e1").ToDouble(), 25.0);
}

TEST_F(VariantTest, ConvertForStore) {
    struct Case {
        TfsVarType type;
        Variant v;
        uint16_t kind;
        const char* text;
    };
    const Case cases[] = {
        {fvtInt, Variant("True"), varInteger, "1"},
        {fvtInt, Variant(true), varInteger, "-1"},
        {fvtInt, Variant(2.5), varInteger, "2"},
        {fvtInt, Variant(3.5), varInteger, "4"},
        {fvtInt, Variant("12"), varInteger, "12"},
        {fvtFloat, Variant(5), varDouble, "5"},
        {fvtFloat, Variant::Date(45356), varDate, "3/5/2024"},
        {fvtBool, Variant(0), varBoolean, "False"},
        {fvtString, Variant(12), varString, "12"},
        {fvtChar, Variant::Wide(u"c"), varString, "c"},
        {fvtVariant, Variant(1.25), varDouble, "1.25"},
        {fvtInt64, Variant(7), varInteger, "7"},
        {fvtClass, Variant(9), varInteger, "9"},
    };
    for (const Case& c : cases) {
        Variant r = ConvertForStore(c.type, c.v);
        EXPECT_EQ(r.Kind(), c.kind) << int(c.type) << " " << c.text;
        EXPECT_EQ(r.ToStr(), c.text);
    }
    EXPECT_EQ(
        ErrorOf([] { ConvertForStore(fvtInt, Variant("x")); }),
        "EVariantTypeCastError: Could not convert variant of type (String) into type (Boolean)");
    EXPECT_EQ(ErrorOf([] { ConvertForStore(fvtInt, Variant(3e9)); }),
              "EVariantOverflowError: Overflow while converting variant of type (Double) into type "
              "(Integer)");
    EXPECT_EQ(ErrorOf([] { ConvertForStore(fvtString, Variant::Null()); }),
              "EVariantTypeCastError: Could not convert variant of type (Null) into type (String)");
}

class FakeClasses : public TfsClassAncestry {
public:
    bool IsRegisteredClass(std::string_view n) const override {
        return n == "TObject" || n == "TList" || n == "TStringList" || n == "TStrings";
    }
    bool DescendsFrom(std::string_view n, std::string_view a) const override {
        if (n == a || a == "TObject") return true;
        return n == "TStringList" && a == "TStrings";
    }
};

TEST(StaticTypes, AcceptsTypeMatrix) {
    FakeClasses classes;
    // Rows: target; columns: source in enumeration order fvtInt .. fvtInt64.
    const std::pair<TfsVarType, const char*> rows[] = {
        {fvtInt, "10100001101"},     {fvtBool, "01000001000"},        {fvtFloat, "10100001000"},
        {fvtChar, "00011001000"},    {fvtString, "00011001000"},      {fvtArray, "00000011000"},
        {fvtVariant, "11111111111"}, {fvtConstructor, "00000000000"}, {fvtInt64, "00000000000"},
    };
    for (auto [target, row] : rows)
        for (int s = 0; s <= fvtInt64; ++s)
            EXPECT_EQ(AcceptsType(target, "", TfsVarType(s), "", &classes), row[s] == '1')
                << int(target) << " <- " << s;
    EXPECT_TRUE(AcceptsType(fvtClass, "TStrings", fvtClass, "TStringList", &classes));
    EXPECT_FALSE(AcceptsType(fvtClass, "TStringList", fvtClass, "TStrings", &classes));
    EXPECT_FALSE(AcceptsType(fvtClass, "TList", fvtClass, "Unregistered", &classes));
    EXPECT_TRUE(AcceptsType(fvtClass, "TList", fvtVariant, "", &classes));
    EXPECT_FALSE(AcceptsType(fvtClass, "TList", fvtInt, "", &classes));
    EXPECT_TRUE(AcceptsType(fvtEnum, "TFontStyle", fvtEnum, "tfontstyle", &classes));
    EXPECT_FALSE(AcceptsType(fvtEnum, "TFontStyle", fvtEnum, "TAlign", &classes));
    EXPECT_TRUE(AcceptsType(fvtEnum, "TFontStyle", fvtInt64, "", &classes));
    EXPECT_TRUE(AcceptsType(fvtInt, "", fvtFloat, "", &classes));
    EXPECT_FALSE(AcceptsAssignment(fvtInt, "", fvtFloat, "", &classes));
    EXPECT_TRUE(AcceptsAssignment(fvtFloat, "", fvtInt, "", &classes));
    EXPECT_EQ(TypeNameText(fvtFloat, ""), "Extended");
    EXPECT_EQ(TypeNameText(fvtClass, "TList"), "TList");
    EXPECT_EQ(TypeNameText(fvtConstructor, ""), "Variant");
    EXPECT_EQ(TypeNameText(fvtInt64, ""), "Int64");
}

TEST(SourcePos, LineAndColumn) {
    TPoint p = ParseSourcePos("12:34");
    EXPECT_EQ(p.y, 12);
    EXPECT_EQ(p.x, 34);
    p = ParseSourcePos("");
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
    EXPECT_EQ(
        ErrorOf([] { ParseSourcePos("a:1"); }),
        "EVariantTypeCastError: Could not convert variant of type (String) into type (Integer)");
    EXPECT_THROW(ParseSourcePos("1:"), EScriptError);
}

TEST_F(VariantTest, FormatArgumentsKeepLongStringsWhole) {
    const std::string long300(300, 'q');
    Variant args =
        Variant::Array({Variant(long300), Variant::Wide(u"w\u00e9"), Variant(7), Variant(2.5),
                        Variant(true), Variant(int64_t{1} << 40), Variant::Null(), Variant(),
                        Variant::Currency(15000), Variant::LongWord(4000000000u)});
    std::vector<TFormatArg> a = ToFormatArgs(args);
    ASSERT_EQ(a.size(), 10u);
    EXPECT_EQ(a[0].kind, TFormatArg::faString);
    EXPECT_EQ(a[0].s, long300);
    EXPECT_EQ(a[1].s, "w\xc3\xa9");
    EXPECT_EQ(a[2].kind, TFormatArg::faInt);
    EXPECT_EQ(a[2].i, 7);
    EXPECT_EQ(a[3].kind, TFormatArg::faFloat);
    EXPECT_EQ(a[3].f, 2.5);
    EXPECT_EQ(a[4].kind, TFormatArg::faBool);
    EXPECT_EQ(a[4].i, 1);
    EXPECT_EQ(a[5].kind, TFormatArg::faInt64);
    EXPECT_EQ(a[5].i, int64_t{1} << 40);
    EXPECT_EQ(a[6].kind, TFormatArg::faInt);
    EXPECT_EQ(a[6].i, 0);
    EXPECT_EQ(a[7].i, 0);
    EXPECT_EQ(a[8].f, 1.5);
    EXPECT_EQ(a[9].kind, TFormatArg::faInt64);
    EXPECT_EQ(a[9].i, 4000000000LL);
}

TEST(VariantArrays, BoundsIndexesAndCopyOnWrite) {
    Variant a = Variant::CreateArray(varInteger, {{1, 3}, {-1, 0}});
    EXPECT_EQ(a.Kind(), varArray | varInteger);
    EXPECT_EQ(a.ArrayDims(), 2);
    EXPECT_EQ(a.ArrayLow(1), 1);
    EXPECT_EQ(a.ArrayHigh(1), 3);
    EXPECT_EQ(a.ArrayLow(2), -1);
    EXPECT_EQ(a.ArrayHigh(2), 0);
    const int32_t i30[] = {3, 0}, i1m1[] = {1, -1};
    EXPECT_EQ(a.ArrayAt(i30, 2).Kind(), varInteger); // typed elements start as zero
    EXPECT_EQ(a.ArrayAt(i30, 2).ToInt(), 0);
    Variant b = a;
    b.ArrayAtMut(i30, 2) = Variant(9);
    EXPECT_EQ(b.ArrayAt(i30, 2).ToInt(), 9);
    EXPECT_EQ(a.ArrayAt(i30, 2).ToInt(), 0); // the copy was written, not the shared original
    EXPECT_EQ(b.ArrayAt(i1m1, 2).ToInt(), 0);
    const int32_t bad[][2] = {{0, 0}, {4, 0}, {1, 1}, {1, -2}};
    for (const auto& idx : bad)
        EXPECT_EQ(ErrorOf([&] { (void)a.ArrayAt(idx, 2); }),
                  "EVariantBadIndexError: Variant or safe array index out of bounds");
    EXPECT_EQ(ErrorOf([&] { (void)a.ArrayAt(i30, 1); }),
              "EVariantBadIndexError: Variant or safe array index out of bounds");
    EXPECT_THROW((void)a.ArrayLow(3), EScriptError);

    Variant c = Variant::Array({Variant(1), Variant("two")});
    EXPECT_EQ(c.Kind(), varArray | varVariant);
    EXPECT_EQ(c.ArrayCount(), 2);
    EXPECT_EQ(c[1].StrView(), "two");
    EXPECT_THROW((void)c[2], EScriptError);
    EXPECT_THROW((void)c[-1], EScriptError);
    EXPECT_THROW(Variant::CreateArray(varInteger, {}), EScriptError);
    EXPECT_THROW(Variant::CreateArray(varInteger, {{0, 1}, {0, 1}, {0, 1}, {0, 1}}), EScriptError);
    EXPECT_THROW(Variant::CreateArray(varInteger, {{0, 1 << 30}}), EScriptError);
    EXPECT_EQ(Variant::CreateArray(varVariant, {{5, 4}}).ArrayCount(), 0);
}

} // namespace
} // namespace pt
