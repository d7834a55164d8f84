// Format, FormatFloat and FormatMaskText. The large tables are the results of the standard
// Pascal run-time library under the same format settings (see oracle/README.md); the rows where
// this system deliberately differs are listed with their reasons and checked against our value.
#include <gtest/gtest.h>

#include "script/runtime/fs_errors.h"
#include "script/runtime/fs_format.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace pt {
namespace {

// Marks an expected EConvertError in the generated tables.
const char* const kFormatError = "<EConvertError>";

TFormatArg I(int64_t v) {
    TFormatArg a;
    a.kind = TFormatArg::faInt;
    a.i = v;
    return a;
}
TFormatArg L(int64_t v) {
    TFormatArg a;
    a.kind = TFormatArg::faInt64;
    a.i = v;
    return a;
}
TFormatArg F(double v) {
    TFormatArg a;
    a.kind = TFormatArg::faFloat;
    a.f = v;
    return a;
}
TFormatArg S(std::string v) {
    TFormatArg a;
    a.kind = TFormatArg::faString;
    a.s = std::move(v);
    return a;
}
TFormatArg B(bool v) {
    TFormatArg a;
    a.kind = TFormatArg::faBool;
    a.i = v ? 1 : 0;
    return a;
}

// The conventional English settings, spelled out as the oracle programs set them.
TFormatSettings OracleSettings() {
    TFormatSettings fs;
    fs.DecimalSeparator = '.';
    fs.ThousandSeparator = ',';
    fs.DateSeparator = '/';
    fs.TimeSeparator = ':';
    fs.ShortDateFormat = "M/d/yyyy";
    fs.LongDateFormat = "dddd, MMMM d, yyyy";
    fs.ShortTimeFormat = "h:mm AMPM";
    fs.LongTimeFormat = "h:mm:ss AMPM";
    fs.TimeAMString = "AM";
    fs.TimePMString = "PM";
    fs.CurrencyString = "$";
    fs.CurrencyFormat = 0;
    fs.NegCurrFormat = 0;
    fs.CurrencyDecimals = 2;
    return fs;
}

std::string FormatOrError(const std::string& fmt, const std::vector<TFormatArg>& args,
                          const TFormatSettings& fs) {
    try {
        return Format(fmt, args, fs);
    } catch (const EScriptError& e) {
        EXPECT_EQ(e.className(), kEConvertError);
        EXPECT_EQ(e.message(), "Format '" + fmt + "' invalid or incompatible with argument");
        return kFormatError;
    }
}

// ---- Format ----------------------------------------------------------------------------------

struct FormatCase {
    const char* fmt;
    std::vector<TFormatArg> args;
    const char* expected;
};

const std::vector<FormatCase>& OracleFormatCases() {
    static const std::vector<FormatCase> cases = {
#include "oracle/format_cases.inc"
    };
    return cases;
}

// (format, run-time library result) -> our result. Default precision of e and g is 15
// significant digits (the documented convention, as FloatToStr) where that library uses 17;
// "p" prints an integer argument (object handles are integers); a dangling or unknown directive
// is an error instead of being dropped silently.
const std::map<std::pair<std::string, std::string>, std::string>& FormatDifferences() {
    static const std::map<std::pair<std::string, std::string>, std::string> d = {
        {{"%e", "0.0000000000000000E+000"}, "0.00000000000000E+000"},
        {{"%e", "1.0000000000000000E+000"}, "1.00000000000000E+000"},
        {{"%e", "-1.0000000000000000E+000"}, "-1.00000000000000E+000"},
        {{"%e", "1.2345678000000000E+003"}, "1.23456780000000E+003"},
        {{"%e", "1.0000000000000000E-300"}, "1.00000000000000E-300"},
        {{"%e", "1.7976931348623157E+308"}, "1.79769313486232E+308"},
        {{"%e", "4.9406564584124654E-324"}, "4.94065645841247E-324"},
        {{"%E", "2.5000000000000000E+000"}, "2.50000000000000E+000"},
        {{"%e", "1.0000000000000001E-001"}, "1.00000000000000E-001"},
        {{"%g", "0.10000000000000001"}, "0.1"},
        {{"%g", "1000000000000000"}, "1E15"},
        {{"%g", "10000000000000000"}, "1E16"},
        {{"%g", "1.2345678901234568E17"}, "1.23456789012346E17"},
        {{"%g", "0.000010000000000000001"}, "0.00001"},
        {{"%g", "0.00012344999999999999"}, "0.00012345"},
        {{"%g", "1.0000000000000001E300"}, "1E300"},
        {{"%g", "-2.4999999999999999E-7"}, "-2.5E-7"},
        {{"%g", "0.30000000000000004"}, "0.3"},
        {{"%g", "0.33333333333333331"}, "0.333333333333333"},
        {{"<%p>", kFormatError}, "<000000FF>"},
        {{"%z", ""}, kFormatError},
        {{"%", ""}, kFormatError},
        {{"abc%", "abc"}, kFormatError},
    };
    return d;
}

TEST(Format, MatchesRunTimeLibrary) {
    const TFormatSettings fs = OracleSettings();
    const auto& diffs = FormatDifferences();
    ASSERT_GE(OracleFormatCases().size(), 100u);
    int index = 0;
    for (const FormatCase& c : OracleFormatCases()) {
        std::string expected = c.expected;
        auto it = diffs.find({c.fmt, c.expected});
        if (it != diffs.end()) expected = it->second;
        // Fixed notation prints every integer digit of a huge value (the library switches to an
        // exponent there); the digits are the exact decimal expansion of the double.
        if (std::string(c.fmt) == "%f" && c.args.size() == 1 &&
            c.args[0].kind == TFormatArg::faFloat && std::abs(c.args[0].f) >= 1e100) {
            char buf[400];
            std::snprintf(buf, sizeof buf, "%.2f", c.args[0].f);
            expected = buf;
        }
        EXPECT_EQ(FormatOrError(c.fmt, c.args, fs), expected) << "row " << index << ": " << c.fmt;
        ++index;
    }
}

TEST(Format, StringArgumentsAreUsedWhole) {
    // A 300-character argument is not cut to 255 characters.
    std::string text = std::string(150, 'a') + std::string(150, 'b');
    EXPECT_EQ(Format("%s", {S(text)}, OracleSettings()), text);
    EXPECT_EQ(Format("<%s>", {S(std::string(70000, 'x'))}, OracleSettings()).size(), 70002u);
}

TEST(Format, OtherSeparators) {
    TFormatSettings fs = OracleSettings();
    fs.DecimalSeparator = ',';
    fs.ThousandSeparator = '.';
    fs.CurrencyString = "EUR";
    fs.CurrencyFormat = 3;
    fs.NegCurrFormat = 8;
    EXPECT_EQ(Format("%.2f|%n|%m|%m|%g|%.3e",
                     {F(1.5), F(1234567.891), F(1234.5), F(-2), F(0.25), F(1234.5)}, fs),
              "1,50|1.234.567,89|1.234,50 EUR|-2,00 EUR|0,25|1,23E+003");
}

TEST(Format, BadInputIsAClearError) {
    const TFormatSettings fs = OracleSettings();
    for (const char* bad : {"%2000000000d", "%.2000000000f", "%99999999999999999999d",
                            "%1:", "%4294967297:d", "%-", "%*"}) {
        EXPECT_EQ(FormatOrError(bad, {I(1), I(2)}, fs), kFormatError) << bad;
    }
    // A width from "*" is bounded as well.
    EXPECT_EQ(FormatOrError("%*d", {I(INT32_MAX), I(1)}, fs), kFormatError);
    // Large but sane widths work.
    EXPECT_EQ(Format("%5000d", {I(7)}, fs).size(), 5000u);
}

// ---- FormatFloat -----------------------------------------------------------------------------

struct FloatCase {
    const char* fmt;
    double value;
    const char* expected;
};

const std::vector<FloatCase>& OracleFloatCases() {
    static const std::vector<FloatCase> cases = {
#include "oracle/formatfloat_cases.inc"
    };
    return cases;
}

// (picture, run-time library result) -> our result. A value that rounds to zero shows no minus
// sign, and optional "#" decimals of such a value vanish as they do for zero itself.
const std::map<std::pair<std::string, std::string>, std::string>& FloatDifferences() {
    static const std::map<std::pair<std::string, std::string>, std::string> d = {
        {{"0", "-0"}, "0"},  {{"0.00", "-0.00"}, "0.00"},     {{"#.##", "-.00"}, ""},
        {{"#.#", ".0"}, ""}, {{"0.0\"%\"", "-0.0%"}, "0.0%"},
    };
    return d;
}

TEST(FormatFloat, MatchesRunTimeLibrary) {
    const TFormatSettings fs = OracleSettings();
    const auto& diffs = FloatDifferences();
    ASSERT_GE(OracleFloatCases().size(), 100u);
    int index = 0;
    for (const FloatCase& c : OracleFloatCases()) {
        std::string expected = c.expected;
        auto it = diffs.find({c.fmt, c.expected});
        if (it != diffs.end()) expected = it->second;
        EXPECT_EQ(FormatFloat(c.fmt, c.value, fs), expected)
            << "row " << index << ": " << c.fmt << " " << c.value;
        ++index;
    }
}

TEST(FormatFloat, OtherSeparatorsAndNonFinite) {
    TFormatSettings fs = OracleSettings();
    fs.DecimalSeparator = ',';
    fs.ThousandSeparator = ' ';
    EXPECT_EQ(FormatFloat("#,##0.00", 1234567.891, fs), "1 234 567,89");
    EXPECT_EQ(FormatFloat("0.0E+00", 1234.5, fs), "1,2E+03");
    EXPECT_EQ(FormatFloat("", 0.5, fs), "0,5");
    EXPECT_EQ(FormatFloat("0.00", INFINITY, fs), "INF");
    EXPECT_EQ(FormatFloat("0.00", -INFINITY, fs), "-INF");
    EXPECT_EQ(FormatFloat("0.00", NAN, fs), "NAN");
    EXPECT_EQ(Format("%f|%g", {F(-INFINITY), F(NAN)}, fs), "-INF|NAN");
}

TEST(FormatFloat, HugePicturesStayBounded) {
    const TFormatSettings fs = OracleSettings();
    std::string many(5000, '0');
    EXPECT_EQ(FormatFloat(many, 42, fs), std::string(4998, '0') + "42");
    EXPECT_EQ(FormatFloat("0." + many, 0.5, fs).size(), 5002u);
    EXPECT_EQ(FormatFloat("\"unterminated", 1, fs), "unterminated");
    EXPECT_EQ(FormatFloat("0E+0000000", 1e300, fs), "1E+0300");
}

// ---- FormatMaskText --------------------------------------------------------------------------

TEST(FormatMaskText, EditMaskConventions) {
    TFormatSettings fs = OracleSettings();
    fs.DateSeparator = '.';
    fs.TimeSeparator = ':';
    struct Case {
        const char* mask;
        const char* value;
        const char* expected;
    } cases[] = {
        // literals inserted when the value does not carry them
        {"(999) 000-0000;0;_", "8005551212", "(800) 555-1212"},
        {"000-000;0", "123456", "123-456"},
        // saved literals in the value are skipped; without them the text still fits
        {"000-000;1;_", "123-456", "123-456"},
        {"000-000;1;_", "123456", "123-456"},
        {"000-000", "123-456", "123-456"},
        // missing characters show as the blank: a space unless the mask names one
        {"000-000;0", "12", "12 -   "},
        {"000-000;0;*", "12", "12*-***"},
        // extra characters are dropped
        {"00;0", "12345", "12"},
        // escapes and the separators of the settings
        {"\\(000\\);0", "123", "(123)"},
        {"\\000;0", "12", "012"},
        {"00/00/0000;0", "11122024", "11.12.2024"},
        {"00:00;0", "0930", "09:30"},
        {"00_00;0", "1234", "12 34"},
        // case switches
        {">LLL<lll;0", "aBcDeF", "ABCdef"},
        {">L<>l;0", "ab", "Ab"},
        {">ccc;0", "a1b", "A1B"},
        // right alignment of a short value
        {"!99999;0;0", "42", "00042"},
        {"!999-99;0;_", "123", "__1-23"},
        // letter and alphanumeric placeholders take what they are given
        {"LL-00;0", "AB12", "AB-12"},
        {"aaaa;0", "x", "x   "},
        // an escaped ";" belongs to the mask
        {"0\\;0;0", "12", "1;2"},
        // a mask without placeholders is its literals
        {"(-)", "xyz", "(-)"},
        {"", "xyz", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatMaskText(c.mask, c.value, fs), c.expected) << c.mask << " / " << c.value;
}

} // namespace
} // namespace pt
