#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "common/pt_build.h"
#include <pipetask/pt_value.h>

// The boundary value and string layouts that hosts rely on.
TEST(ValueLayout, RecordAndStringHeaders) {
    EXPECT_EQ(sizeof(PtValue), 16u);
    EXPECT_EQ(offsetof(PtValue, u), 8u);
    char* s = pt_str_new("abc", 3);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(pt_str_bytes(s), 3u);
    EXPECT_EQ(*pt_str_refp(s), 1);
    EXPECT_EQ(s[3], '\0');
    pt_str_addref(s);
    EXPECT_EQ(*pt_str_refp(s), 2);
    pt_str_release(s);
    pt_str_release(s); // freed here; ASan reports a leak or double free otherwise

    const uint16_t units[] = {0x48, 0x49};
    uint16_t* w = pt_wstr_new(units, 2);
    EXPECT_EQ(pt_str_bytes(w), 4u);
    EXPECT_EQ(pt_wstr_units(w), 2u);
    EXPECT_EQ(w[2], 0);
    pt_str_release(w);
}

TEST(ValueLayout, CopySharesStringsAndClearReleases) {
    PtValue a{}, b{};
    ASSERT_TRUE(pt_value_set_str(&a, "xyz", 3));
    pt_value_copy(&b, &a);
    EXPECT_EQ(a.u.str, b.u.str);
    EXPECT_EQ(*pt_str_refp(a.u.str), 2);
    pt_value_clear(&a);
    EXPECT_EQ(a.vt, PT_VAR_EMPTY);
    EXPECT_EQ(*pt_str_refp(b.u.str), 1);
    pt_value_clear(&b);
}

TEST(ValueLayout, ArraysOwnTheirElements) {
    PtArrayBound bound{0, 3};
    PtArray* arr = pt_array_new(PT_VAR_VARIANT, 1, &bound);
    ASSERT_NE(arr, nullptr);
    pt_value_set_str(&arr->items[1], "hello", 5);
    PtValue v{};
    v.vt = PT_VAR_ARRAY | PT_VAR_VARIANT;
    v.u.arr = arr;
    PtValue w{};
    pt_value_copy(&w, &v);
    EXPECT_EQ(arr->refcount, 2);
    pt_value_clear(&v);
    pt_value_clear(&w);
    PtArrayBound bad{0, -1};
    EXPECT_EQ(pt_array_new(PT_VAR_VARIANT, 1, &bad), nullptr);
    EXPECT_EQ(pt_array_new(PT_VAR_VARIANT, 4, &bound), nullptr);
}

TEST(Build, VersionTextHasFourParts) {
    std::string v = pt::BuildVersionText();
    EXPECT_EQ(std::count(v.begin(), v.end(), '.'), 3);
}
