#include "HostValue.h"

#include <gtest/gtest.h>

#include <cmath>

namespace pt::host {
namespace {

TEST(HostValueTest, IsoDates) {
    struct Case {
        double days;
        const char* text;
    } cases[] = {
        {0, "1899-12-30T00:00:00"},
        {45000.5, "2023-03-15T12:00:00"},
        {-1.25, "1899-12-29T06:00:00"},        // before the epoch the fraction is still the time
        {1.9999999999, "1900-01-01T00:00:00"}, // milliseconds rounding into the next day
        {36526.000011574, "2000-01-01T00:00:01"},
        {2958465.99999, "9999-12-31T23:59:59.136"},
        {60.0, "1900-02-28T00:00:00"}, // 1900 is not a leap year in the proleptic calendar
    };
    for (const Case& c : cases) {
        std::string out;
        appendIsoDate(c.days, out);
        EXPECT_EQ(out, c.text) << c.days;
    }
}

TEST(HostValueTest, Utf8Validation) {
    struct Case {
        std::string bytes;
        size_t invalidAt;
    } cases[] = {
        {"plain", std::string::npos},
        {"caf\xC3\xA9 \xF0\x9F\x98\x80", std::string::npos},
        {"a\xC0\x80", 1},        // overlong NUL
        {"ab\xED\xA0\x80", 2},   // a surrogate encoded directly
        {"\xF4\x90\x80\x80", 0}, // above U+10FFFF
        {"x\xE2\x82", 1},        // cut off
        {"\x80", 0},             // a lone continuation byte
        {"ok\xE0\x9F\xBF", 2},   // overlong three-byte form
    };
    for (const Case& c : cases) EXPECT_EQ(utf8InvalidAt(c.bytes), c.invalidAt) << c.bytes;
}

TEST(HostValueTest, Utf16RoundTripAndLoneSurrogates) {
    std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    std::u16string wide;
    utf8ToUtf16(text, wide);
    ASSERT_EQ(wide, u"a\u00e9\u20ac\U0001F600");
    std::string back;
    utf16ToUtf8(reinterpret_cast<const uint16_t*>(wide.data()), wide.size(), back);
    EXPECT_EQ(back, text);

    const uint16_t lone[] = {'x', 0xD800, 'y', 0xDC00};
    back.clear();
    utf16ToUtf8(lone, 4, back);
    EXPECT_EQ(back, "x\xEF\xBF\xBDy\xEF\xBF\xBD");
}

PtValue make(uint16_t vt) {
    PtValue v{};
    v.vt = vt;
    return v;
}

TEST(HostValueTest, JsonAndPlainForms) {
    PtValue i64 = make(PT_VAR_INT64);
    i64.u.i64 = -9007199254740993LL;
    PtValue dbl = make(PT_VAR_DOUBLE);
    dbl.u.f64 = 2.0;
    PtValue third = make(PT_VAR_DOUBLE);
    third.u.f64 = 0.1;
    PtValue sgl = make(PT_VAR_SINGLE);
    sgl.u.f32 = 0.1f;
    PtValue cur = make(PT_VAR_CURRENCY);
    cur.u.i64 = -125000; // -12.5
    PtValue date = make(PT_VAR_DATE);
    date.u.f64 = 45000.5;
    PtValue nan = make(PT_VAR_DOUBLE);
    nan.u.f64 = std::nan("");
    PtValue t = make(PT_VAR_BOOLEAN);
    t.u.boolean = -1;
    PtValue word = make(PT_VAR_WORD);
    word.u.u16 = 65535;
    struct Case {
        PtValue v;
        const char* json;
        const char* plain;
    } cases[] = {
        {make(PT_VAR_EMPTY), "null", ""},
        {make(PT_VAR_NULL), "null", ""},
        {i64, "-9007199254740993", "-9007199254740993"},
        {dbl, "2.0", "2.0"},
        {third, "0.1", "0.1"},
        {sgl, "0.1", "0.1"},
        {cur, "-12.5", "-12.5"},
        {date, "\"2023-03-15T12:00:00\"", "2023-03-15T12:00:00"},
        {nan, "null", ""},
        {t, "true", "true"},
        {word, "65535", "65535"},
    };
    for (const Case& c : cases) {
        std::string json, plain;
        appendJsonValue(c.v, json);
        appendPlainText(c.v, plain);
        EXPECT_EQ(json, c.json) << c.v.vt;
        EXPECT_EQ(plain, c.plain) << c.v.vt;
    }
}

TEST(HostValueTest, TextValuesAndArraysInJson) {
    Value wide = Value::text("a\"b\\c\n\x01\xC3\xA9");
    std::string json;
    appendJsonValue(wide.raw(), json);
    EXPECT_EQ(json, "\"a\\\"b\\\\c\\n\\u0001\xC3\xA9\"");

    // A byte string with an invalid byte is still written as valid JSON.
    PtValue bytes{};
    ASSERT_TRUE(pt_value_set_str(&bytes, "x\xFFy", 3));
    json.clear();
    appendJsonValue(bytes, json);
    EXPECT_EQ(json, "\"x\xEF\xBF\xBDy\"");
    pt_value_clear(&bytes);

    PtArrayBound b[2] = {{0, 2}, {0, 2}};
    PtValue arr{};
    arr.vt = PT_VAR_ARRAY | PT_VAR_VARIANT;
    arr.u.arr = pt_array_new(PT_VAR_VARIANT, 2, b);
    for (int i = 0; i < 4; ++i) pt_value_set_int(&arr.u.arr->items[i], i);
    json.clear();
    appendJsonValue(arr, json);
    EXPECT_EQ(json, "[[0,1],[2,3]]");
    pt_value_clear(&arr);
}

} // namespace
} // namespace pt::host
