// Bodies of the system functions over plain values.
#include <gtest/gtest.h>

#include "platform/FormatSettings.h"
#include "script/runtime/fs_errors.h"
#include "script/runtime/fs_sysfuncs.h"

#include <cmath>
#include <set>
#include <string>
#include <thread>

namespace pt {
namespace {

template <typename F> std::string ErrorOf(F f) {
    try {
        f();
    } catch (const EScriptError& e) {
        return e.className() + ": " + e.message();
    }
    return "no error";
}

TEST(SysFunctions, StrToIntAndInt64) {
    EXPECT_EQ(SysStrToInt("42"), 42);
    EXPECT_EQ(SysStrToInt("-42"), -42);
    EXPECT_EQ(SysStrToInt("+7"), 7);
    EXPECT_EQ(SysStrToInt("  12"), 12);
    EXPECT_EQ(SysStrToInt("$FF"), 255);
    EXPECT_EQ(SysStrToInt("-$10"), -16);
    EXPECT_EQ(SysStrToInt("$FFFFFFFF"), -1);
    EXPECT_EQ(SysStrToInt("2147483647"), INT32_MAX);
    EXPECT_EQ(SysStrToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(SysStrToInt64("5000000000"), 5000000000LL);
    EXPECT_EQ(SysStrToInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(SysStrToInt64("$FFFFFFFFFFFFFFFF"), -1);
    for (const char* bad : {"", " ", "12 ", "1.5", "abc", "$", "-", "2147483648", "$100000000",
                            "0x10", "1e3", "--1"}) {
        EXPECT_EQ(ErrorOf([&] { SysStrToInt(bad); }),
                  std::string("EConvertError: '") + bad + "' is not a valid integer value")
            << bad;
    }
    EXPECT_EQ(ErrorOf([] { SysStrToInt64("9223372036854775808"); }),
              "EConvertError: '9223372036854775808' is not a valid integer value");
}

TEST(SysFunctions, StrToFloatUsesTheRegionalSeparator) {
    TFormatSettings saved = FormatSettings();
    TFormatSettings fs = DefaultFormatSettings();
    fs.DecimalSeparator = '.';
    SetFormatSettings(fs);
    EXPECT_EQ(SysStrToFloat("1.5"), 1.5);
    EXPECT_EQ(SysStrToFloat(" -2.5e3 "), -2500.0);
    EXPECT_EQ(SysStrToFloat("7"), 7.0);
    EXPECT_EQ(SysStrToFloat(".5"), 0.5);
    EXPECT_EQ(SysStrToFloat("5."), 5.0);
    EXPECT_EQ(SysStrToFloat("1e-400"), 0.0);
    EXPECT_EQ(SysStrToFloat("1000e-330"), 0.0);
    EXPECT_EQ(SysStrToFloat("0.0001e310"), 1e306);
    for (const char* bad :
         {"", "abc", "1,5", "1e", "1e+", ".", "1.5x", "1e400", "-1e999", "0.1e310", "inf", "nan"})
        EXPECT_EQ(ErrorOf([&] { SysStrToFloat(bad); }),
                  std::string("EConvertError: '") + bad + "' is not a valid floating point value")
            << bad;
    fs.DecimalSeparator = ',';
    SetFormatSettings(fs);
    EXPECT_EQ(SysStrToFloat("1,5"), 1.5);
    double v = 0;
    EXPECT_FALSE(SysTryStrToFloat("1.5", v));
    SetFormatSettings(saved);
}

TEST(SysFunctions, CopyPosDeleteInsert) {
    EXPECT_EQ(SysCopy("abcdef", 0, 2), "ab");
    EXPECT_EQ(SysCopy("abcdef", 2, 3), "bcd");
    EXPECT_EQ(SysCopy("abcdef", 5, 100), "ef");
    EXPECT_EQ(SysCopy("abc", 5, 1), "");
    EXPECT_EQ(SysCopy("abc", 1, 0), "");
    EXPECT_EQ(SysCopy("abc", -5, -1), "");
    EXPECT_EQ(SysCopy("abc", INT32_MAX, INT32_MAX), "");
    EXPECT_EQ(SysPos("c", "abc"), 3);
    EXPECT_EQ(SysPos("x", "abc"), 0);
    EXPECT_EQ(SysPos("", "abc"), 0);
    EXPECT_EQ(SysPos("bc", "abcbc"), 2);
    EXPECT_EQ(SysDelete("hello", 2, 3), "ho");
    EXPECT_EQ(SysDelete("hello", 0, 3), "hello");
    EXPECT_EQ(SysDelete("hello", 6, 1), "hello");
    EXPECT_EQ(SysDelete("hello", 4, 100), "hel");
    EXPECT_EQ(SysDelete("hello", 2, -1), "hello");
    EXPECT_EQ(SysInsert("XX", "ho", 2), "hXXo");
    EXPECT_EQ(SysInsert("XX", "ho", 0), "XXho");
    EXPECT_EQ(SysInsert("XX", "ho", 99), "hoXX");
    EXPECT_EQ(SysInsert("XX", "", 1), "XX");
}

TEST(SysFunctions, LetterCase) {
    EXPECT_EQ(SysUpperCase("abc xyz 123"), "ABC XYZ 123");
    EXPECT_EQ(SysLowerCase("ABC Xyz"), "abc xyz");
    EXPECT_EQ(SysUpperCase("straße äöü ÿ"), "STRAßE ÄÖÜ Ÿ");
    EXPECT_EQ(SysLowerCase("ÄÖÜ Ÿ ŁÓDŹ"), "äöü ÿ łódź");
    EXPECT_EQ(SysUpperCase("привет αβγ"), "ПРИВЕТ ΑΒΓ");
    EXPECT_EQ(SysLowerCase("ЁЛКА ΣΟΦΙΑ"), "ёлка σοφια");
    // Malformed bytes pass through untouched.
    EXPECT_EQ(SysUpperCase(std::string("a\xff\xc3z")), std::string("A\xff\xc3Z"));
    EXPECT_EQ(SysNameCase("jOHN smith"), "John Smith");
    EXPECT_EQ(SysNameCase("  two  blanks"), "  Two  Blanks");
    EXPECT_EQ(SysNameCase("élan vital"), "Élan Vital");
    EXPECT_EQ(SysNameCase(""), "");
    EXPECT_EQ(SysCompareText("abc", "ABC"), 0);
    EXPECT_EQ(SysCompareText("abc", "abd"), -1);
    EXPECT_EQ(SysCompareText("B", "a"), 1);
    EXPECT_EQ(SysCompareText("Äpfel", "äPFEL"), 0);
    EXPECT_EQ(SysTrim(std::string("\t \x01 a b \r\n\0", 10)), "a b");
    EXPECT_EQ(SysTrim("   "), "");
}

TEST(SysFunctions, ExtractFilePath) {
    EXPECT_EQ(SysExtractFilePath("C:\\data\\file.txt"), "C:\\data\\");
    EXPECT_EQ(SysExtractFilePath("C:file.txt"), "C:");
    EXPECT_EQ(SysExtractFilePath("/var/log/app.log"), "/var/log/");
    EXPECT_EQ(SysExtractFilePath("file.txt"), "");
}

TEST(SysFunctions, RoundAndTruncKeepLow32Bits) {
    EXPECT_EQ(SysRound(2.5), 2);
    EXPECT_EQ(SysRound(3.5), 4);
    EXPECT_EQ(SysRound(-2.5), -2);
    EXPECT_EQ(SysRound(-2.6), -3);
    EXPECT_EQ(SysTrunc(-1.7), -1);
    EXPECT_EQ(SysTrunc(1.9999), 1);
    EXPECT_EQ(SysRound(4294967297.0), 1);
    EXPECT_EQ(SysTrunc(2147483648.5), INT32_MIN);
    // 10^20 mod 2^32 = 1661992960
    EXPECT_EQ(SysRound(1e20), 1661992960);
    EXPECT_EQ(SysRound(-1e20), -1661992960);
    EXPECT_EQ(ErrorOf([] { SysRound(NAN); }), "EInvalidOp: Invalid floating point operation");
    EXPECT_EQ(ErrorOf([] { SysTrunc(-INFINITY); }), "EInvalidOp: Invalid floating point operation");
}

TEST(SysFunctions, RandomIsUniformInUnitIntervalAndPerThread) {
    SysRandomize();
    std::set<double> seen;
    double sum = 0;
    for (int i = 0; i < 10000; ++i) {
        double r = SysRandom();
        ASSERT_GE(r, 0.0);
        ASSERT_LT(r, 1.0);
        seen.insert(r);
        sum += r;
    }
    EXPECT_GT(seen.size(), 9990u);
    EXPECT_NEAR(sum / 10000, 0.5, 0.02);
    double other = -1;
    std::thread t([&] { other = SysRandom(); });
    t.join();
    EXPECT_GE(other, 0.0);
    EXPECT_LT(other, 1.0);
}

std::string g_shown;
void Capture(const std::string& text) {
    g_shown = text;
}

TEST(SysFunctions, ShowMessageGoesToTheHandler) {
    SetShowMessageHandler(&Capture);
    SysShowMessage("hello");
    EXPECT_EQ(g_shown, "hello");
    SetShowMessageHandler(nullptr);
}

} // namespace
} // namespace pt
